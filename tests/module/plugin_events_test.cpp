// The plug-in's registrations with the host's event processor and its answers to host
// notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/module/plugin_harness.h"

namespace {

using Calls = std::vector<std::string>;
using Lines = std::vector<CapturedLine>;

// A message record read the way a host reads it, through the library alone.
struct Record {
    VELK_DataHandle handle;

    uint32_t Count(uint32_t nameId) const {
        uint32_t count = 0;
        VELK_Msg_GetSizeOf(handle, nameId, &count);
        return count;
    }
    int32_t Int(uint32_t nameId, uint32_t index = 0) const {
        int32_t value = -12345;
        VELK_Msg_GetInt32At(handle, nameId, index, &value);
        return value;
    }
    std::u16string Text(uint32_t nameId) const {
        uint32_t length = 0;
        VELK_Msg_GetWStringAt(handle, nameId, 0, nullptr, 0, &length);
        std::u16string text(length + 1, u'\0');
        VELK_Msg_GetWStringAt(handle, nameId, 0, text.data(), length + 1, &length);
        text.resize(length);
        return text;
    }
    std::vector<uint8_t> Bytes(uint32_t nameId) const {
        uint8_t buffer[256];
        uint32_t size = 0;
        VELK_Msg_GetBinaryAt(handle, nameId, 0, buffer, sizeof buffer, &size);
        return {buffer, buffer + size};
    }
    // A nested record; the caller destroys it with Release.
    Record Nested(uint32_t nameId, uint32_t index = 0) const {
        VELK_DataHandle nested{};
        VELK_Msg_GetDataAt(handle, nameId, index, &nested);
        return {nested};
    }
    void Release() { VELK_Msg_DestroyDataHandle(&handle); }
};

VELK_DataHandle HandleOf(const void* message) {
    return static_cast<const HostMessageLayout*>(message)->handle;
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> bytes;
    for (uint32_t word : words) {
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(word >> (8 * b)));
    }
    return bytes;
}

// A registration as the event processor sees it: function, event class, kind, filter table,
// the further events of the request's top level, and the module and interface to call back.
using SeenRequest =
    std::tuple<uint32_t, int32_t, int32_t, std::vector<uint8_t>, std::vector<int32_t>, int32_t, int32_t>;

TEST(EventRegistration, ThreeSubscriptionsAtStartAndThreeRemovalsAtStop) {
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());
    std::vector<SeenRequest> seen;
    plugin.Host().AddInterface(3, 31, [&](uint32_t fn, void* in, void* out) {
        EXPECT_EQ(out, nullptr);
        const Record request{HandleOf(in)};
        Record nested = request.Nested(0x10030);
        std::vector<int32_t> extra;
        for (uint32_t i = 0; i < request.Count(0x2070E); ++i) extra.push_back(request.Int(0x2070E, i));
        seen.emplace_back(fn, nested.Int(0x2070E), nested.Int(0x20711), nested.Bytes(0x20710), extra,
                          request.Int(0x207D1), request.Int(0x207D2));
        nested.Release();
        return 0x20FF0000u;
    });
    ASSERT_TRUE(plugin.Start());
    ASSERT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);

    const std::vector<uint8_t> tableA = Words({1, 0x00FFFFFF, 46, 0, 48, 0, 0, 0, 3, 0x00FFFFFF, 49,
                                               0x00FFFFFF, 47, 0x00FFFFFF, 115, 0, 116, 0x00FFFFFF});
    const std::vector<uint8_t> tableB = Words({48, 32, 19, 1, 0, 0, 0, 0, 1, 0, 0, 0});
    const std::vector<uint8_t> tableC = Words({27, 0x0000FFFF});
    ASSERT_EQ(seen.size(), 6u);
    const struct {
        int32_t eventClass;
        const std::vector<uint8_t>* filter;
        std::vector<int32_t> extra;
    } expected[] = {
        {0x10002004, &tableA, {0x1000200D, 0x40016002}},
        {0x10002016, &tableB, {}},
        {0x10002001, &tableC, {}},
    };
    for (size_t i = 0; i < 6; ++i) {
        const auto& e = expected[i % 3];
        const uint32_t function = i < 3 ? 0x5E23u : 0x5E24u;
        EXPECT_EQ(seen[i], SeenRequest(function, e.eventClass, 2, *e.filter, e.extra, 10012, 100121)) << i;
    }
    EXPECT_EQ(CapturedAt(177), (Lines{{2, 177, "PlugEngineZef", "register event, result: 0x20ff0000"},
                                      {2, 177, "PlugEngineZef", "unregister event, result: 0x20ff0000"}}));
}

TEST(EventRegistration, MissingEventProcessorDoesNotStopTheStart) {
    PluginHarness plugin;
    ASSERT_NE(plugin.Running(), nullptr);
    EXPECT_NE(plugin.Exports().QueryInterface(kPluginInterfaceId), nullptr);
    Lines errors;
    for (const CapturedLine& line : CapturedLines()) {
        if (line.level == 5) errors.push_back(line);
    }
    EXPECT_EQ(errors, (Lines{{5, 287, "PlugEngineZef", "Event manager is not ready"},
                             {5, 217, "PlugEngineZef", "Integration Event manager is not ready"},
                             {5, 181, "PlugEngineZef", "ID_INTERFACE_EVENT_PROCESSOR is not ready"}}));
}

// Ids outside the handled ones are refused; 4106 is acknowledged; 4104 and 4117 take the
// plug-in out of service: calls are refused while the engine runs, messages untouched.
TEST(HostNotifications, UnhandledIdsAndTakingOutOfService) {
    for (int32_t outOfService : {4107, 4104, 4117}) {
        SCOPED_TRACE(outOfService);
        PluginHarness plugin;
        ICommonPluginInterface* wrapper = plugin.Running();
        ASSERT_NE(wrapper, nullptr);
        HostMessageObject input, output;
        for (int32_t id : {4103, 4105, 4110, 4111, 4112, 4113, 4114, 4115, 4119, -1}) {
            EXPECT_EQ(plugin.Exports().OnNotify(id, &input, &output), velk::kNotHandled) << id;
        }
        EXPECT_EQ(plugin.Exports().OnNotify(4106, &input, &output), velk::kSuccess);
        for (int32_t id : {4108, 4109, 4118}) {
            EXPECT_EQ(plugin.Exports().OnNotify(id, &input, nullptr), velk::kBadArgument) << id;
        }
        EXPECT_EQ(CapturedAt(515).front().text, "OnNotify. ID = 0x1007");  // 4103
        EXPECT_NE(plugin.Exports().QueryInterface(kPluginInterfaceId), nullptr) << "still running";
        EXPECT_EQ(plugin.Exports().OnNotify(outOfService, &input, &output), velk::kOutOfService);
        EXPECT_EQ(Record{output.handle}.Count(0x10017), 0u) << "messages untouched";
        plugin.Engine().Reset();
        const bool takenOut = outOfService != 4107;  // 4107 only answers "out of service"
        EXPECT_EQ(plugin.Exports().CallFunc(wrapper, velk::kFnFlushEvents, nullptr, nullptr),
                  takenOut ? velk::kZefNotRunning : velk::kSuccess);
        EXPECT_EQ(plugin.Engine().Calls().empty(), takenOut) << "the engine runs but is not reached";
        EXPECT_EQ(plugin.Exports().QueryInterface(kPluginInterfaceId) == nullptr, takenOut);
    }
}

// 4108 and 4109 answer whether or not the plug-in runs; 4118 lists the components only once
// it runs.
TEST(HostNotifications, ComponentLocationsModuleInformationAndVersions) {
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());  // not even initialised
    HostMessageObject output;
    ASSERT_EQ(plugin.Exports().OnNotify(4108, nullptr, &output), velk::kSuccess);
    Record locations = Record{output.handle}.Nested(0x10017);
    uint32_t unsignedValue = 99;
    VELK_Msg_GetUInt32At(locations.handle, 0x20001, 0, &unsignedValue);
    EXPECT_EQ(unsignedValue, 0u);
    VELK_Msg_GetUInt32At(locations.handle, 1, 0, &unsignedValue);
    EXPECT_EQ(unsignedValue, 2u);
    const struct {
        uint32_t id;
        int32_t value;
    } numbers[] = {{31, 2}, {32, 0x48000014}, {33, 0}, {36, 0}, {37, 0}, {38, 2}, {46, 1},
                   {61, 3}, {62, 0x48040053}, {66, 0}, {67, 0}, {68, 1}, {76, 0}};
    for (const auto& n : numbers) EXPECT_EQ(locations.Int(n.id), n.value) << n.id;
    EXPECT_EQ(locations.Text(45), u".\\");
    EXPECT_EQ(locations.Text(75), u".\\pattern");
    EXPECT_EQ(locations.Count(39) + locations.Count(44) + locations.Count(69), 0u);
    locations.Release();

    HostMessageObject info;
    ASSERT_EQ(plugin.Exports().OnNotify(4109, nullptr, &info), velk::kSuccess);
    Record module = Record{info.handle}.Nested(0x10018);
    const int32_t expected[] = {10012, 2, 0, 0, 1045, 2, 0};
    for (uint32_t id = 1; id <= 7; ++id) EXPECT_EQ(module.Int(id), expected[id - 1]) << id;
    module.Release();

    HostMessageObject before;
    ASSERT_EQ(plugin.Exports().OnNotify(4118, nullptr, &before), velk::kSuccess);
    Record empty = Record{before.handle}.Nested(0x100BE);
    EXPECT_EQ(empty.Count(0x20001), 1u);
    EXPECT_EQ(empty.Count(0x100BD), 0u);
    empty.Release();
    EXPECT_EQ(CapturedAt(475).size(), 1u) << "QueryInterface's own line";

    ASSERT_TRUE(plugin.Start());
    HostMessageObject after;
    ASSERT_EQ(plugin.Exports().OnNotify(4118, nullptr, &after), velk::kSuccess);
    Record list = Record{after.handle}.Nested(0x100BE);
    ASSERT_EQ(list.Count(0x100BD), 2u);
    EXPECT_EQ(list.Count(0x20A99), 2u);
    Record moduleEntry = list.Nested(0x100BD, 0);
    Record patternEntry = list.Nested(0x100BD, 1);
    const auto texts = [](const Record& r) { return platform::ToUtf8(r.Text(17) + u" " + r.Text(18)); };
    EXPECT_EQ(texts(moduleEntry), "2.0.1045 .\\");
    EXPECT_EQ(texts(patternEntry), "0 .\\pattern");
    EXPECT_EQ((std::vector<int32_t>{moduleEntry.Int(1), moduleEntry.Int(7), moduleEntry.Int(8), patternEntry.Int(2)}),
              (std::vector<int32_t>{2, 10012, 2, 0x48040053}));
    for (Record* r : {&list, &moduleEntry, &patternEntry}) r->Release();
}

TEST(HostNotifications, ReplacedPatternIsCheckedWhileRunning) {
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());
    HostMessageObject input;
    for (int32_t type : {3, 3, 2}) AddComponent(input, type);
    // Not running: no check, but the first record is read.
    EXPECT_EQ(plugin.Exports().OnNotify(4116, &input, nullptr), velk::kSuccess);

    ASSERT_TRUE(plugin.Start());
    plugin.Engine().SetResult("IsPatternValid", 1);
    EXPECT_EQ(plugin.Exports().OnNotify(4116, &input, nullptr), 0xE0360008u) << "the second record";
    EXPECT_EQ(CapturedAt(579), (Lines{{5, 579, "PlugEngineZef", "ZEF pattern is corrupted."}}));
    // The third record is of type 2: no check.
    plugin.Engine().Reset();
    plugin.Engine().SetResult("IsPatternValid", 1);
    EXPECT_EQ(plugin.Exports().OnNotify(4116, &input, nullptr), velk::kSuccess);
    EXPECT_TRUE(plugin.Engine().CallsTo({"IsPatternValid"}).empty());
    // No record left: nothing read, and the cursor stays, so a record added now is read next.
    EXPECT_EQ(plugin.Exports().OnNotify(4116, &input, nullptr), velk::kSuccess);
    AddComponent(input, 3);
    EXPECT_EQ(plugin.Exports().OnNotify(4116, &input, nullptr), 0xE0360008u);
    // An input without a live record is read as nothing: null, a zero handle, a forged one.
    plugin.Engine().Reset();
    plugin.Engine().SetResult("IsPatternValid", 1);
    HostMessageObject zero;
    VELK_Msg_DestroyDataHandle(&zero.handle);
    HostMessageObject forged;
    const VELK_DataHandle real = forged.handle;
    forged.handle = VELK_DataHandle{real.lo ^ 0x5A5A000000000000u, real.hi};
    for (void* nothing : {static_cast<void*>(nullptr), static_cast<void*>(&zero),
                          static_cast<void*>(&forged)}) {
        EXPECT_EQ(plugin.Exports().OnNotify(4116, nothing, nullptr), velk::kSuccess);
    }
    EXPECT_TRUE(plugin.Engine().CallsTo({"IsPatternValid"}).empty());
    forged.handle = real;
}

// Two threads notifying with one host object of corrupted pattern records: each record is
// read once (left to the sanitizers, with the other thread-heavy tests).
TEST(ReplacedComponentTest, OneObjectFromTwoThreadsGivesEachRecordOnce) {
    PluginHarness plugin;
    ASSERT_NE(plugin.Running(), nullptr);
    plugin.Engine().SetResult("IsPatternValid", 1);
    constexpr int kRecords = 300;
    HostMessageObject input;
    for (int i = 0; i < kRecords; ++i) AddComponent(input, 3);
    std::atomic<int> corrupted{0};
    std::atomic<int> other{0};
    auto notifier = [&] {
        for (int i = 0; i < kRecords; ++i) {
            const uint32_t result = plugin.Exports().OnNotify(4116, &input, nullptr);
            if (result == 0xE0360008u) {
                ++corrupted;
            } else if (result != velk::kSuccess) {
                ++other;
            }
        }
    };
    std::thread first(notifier), second(notifier);
    first.join();
    second.join();
    EXPECT_EQ(corrupted.load(), kRecords) << "a record read twice, or one skipped";
    EXPECT_EQ(other.load(), 0);
}

}  // namespace
