// The wrapper's start, stop and call dispatch against the fake engine and a scripted host:
// which calls reach the engine in which state, with which results.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/zef_time.h"
#include "host/restore_records.h"
#include "platform/module.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

using Calls = std::vector<std::string>;
constexpr uint32_t kUnknownId = 0x23600FFF;

// One row of the dispatch table: a function id with the input and output it is given.
struct DispatchCase {
    const char* why;
    uint32_t functionId;
    bool withInput;
    bool withOutput;
    uint32_t enabledResult;
    Calls engineCalls;  // what reaches the engine while enabled
    void* request = nullptr;  // the input instead of the shared block
};

int32_t ChooseNothing(void*, const char16_t*, void*, uint32_t*) { return 0; }
int32_t TakeNoAction(velk::ProcessVersionInfo*, velk::VersionAction*) { return 0; }

TEST_F(EngineWrapperTest, DispatchByStateAndFunctionId) {
    velk::FileVersionRequest walkWithoutPath{nullptr, 0, reinterpret_cast<void (*)()>(&ChooseNothing), 0};
    velk::ProcessVersionRequest processZero{0, {}, {}, 0, TakeNoAction, 0};
    velk::RestoreFileRequest restoreWithoutPath{nullptr, ChooseNothing, nullptr, nullptr, nullptr, 0, 0, 0};
    velk::RestoreFileRequest restore{nullptr, ChooseNothing, nullptr, nullptr, u"C:\\a.txt", 0, 0, 0};
    velk::EditionRestoreRequest editionZero{nullptr, u"C:\\a.txt", 0, 0, 0, 0};
    const DispatchCase cases[] = {
        {"flush events", velk::kFnFlushEvents, false, false, velk::kSuccess, {"FlushEvents"}},
        {"flush valid events", velk::kFnFlushValidEvents, false, false, velk::kSuccess,
         {"FlushValidEvents"}},
        {"unknown id", kUnknownId, true, true, velk::kNotHandled, {}},
        {"max size without output", velk::kFnMaxFileSize, false, false, velk::kBadArgument, {}},
        {"delete without input", velk::kFnDeleteEdition, false, false, velk::kBadArgument, {}},
        {"delete refused by engine", velk::kFnDeleteEdition, true, false, 0xE0360007,
         {"ConnectBackupStorage", "DeleteEditionByEditionID(77)", "DisconnectBackupStorage"}},
        {"backup without input", velk::kFnBackupFile, false, false, velk::kBadArgument, {}},
        {"pid list without input", velk::kFnUpdatePidList, false, false, velk::kBadArgument, {}},
        {"pid list", velk::kFnUpdatePidList, true, false, velk::kSuccess, {"UpdateObjPidList(4,5)"}},
        {"host request of another kind", velk::kFnHostRequest1, true, false, velk::kNotHandled, {}},
        {"host request without input", velk::kFnHostRequest3, false, false, velk::kNotHandled, {}},
        {"policies without output", velk::kFnQueryPatternPolicies, true, false, velk::kNotHandled, {}},
        {"restore without a callback", velk::kFnRestoreFile, true, true, velk::kBadArgument, {}},
        {"edition restore without a path", velk::kFnRestoreEdition, true, true, velk::kBadArgument,
         {}},
        {"file versions without a callback", velk::kFnEnumFileVersions, true, false,
         velk::kBadArgument, {}},
        {"version info without a callback", velk::kFnEnumFileVersionInfo, true, false,
         velk::kBadArgument, {}},
        {"process walk without a callback", velk::kFnEnumProcessVersions, true, false,
         velk::kBadArgument, {}},
        {"boot results without a request", velk::kFnHostRequest2, false, false,
         velk::kNotHandled, {}},
        {"file walk without a path", velk::kFnEnumFileVersions, true, false, velk::kBadArgument,
         {}, &walkWithoutPath},
        {"version info without a request", velk::kFnEnumFileVersionInfo, false, false,
         velk::kBadArgument, {}},
        {"process walk of process 0", velk::kFnEnumProcessVersions, true, false,
         velk::kBadArgument, {}, &processZero},
        {"restore without a path", velk::kFnRestoreFile, true, true, velk::kBadArgument, {},
         &restoreWithoutPath},
        {"restore without the reboot output", velk::kFnRestoreFile, true, false,
         velk::kBadArgument, {}, &restore},
        {"restore of edition 0", velk::kFnRestoreEdition, true, true, velk::kBadArgument, {},
         &editionZero},
    };
    CZefEngineWrapper& w = Started();
    // One input block that every request shape can read: zeros, an edition id of 77, and
    // the pid pair (4, 5); a request kind that names nothing.
    uint32_t input[16] = {};
    input[0] = 77;
    velk::PidListUpdateRequest pids{4, 5};
    uint32_t output[16] = {};
    for (const DispatchCase& c : cases) {
        void* in = c.request != nullptr ? c.request
                   : c.withInput ? (c.functionId == velk::kFnUpdatePidList ? static_cast<void*>(&pids)
                                                                            : static_cast<void*>(input))
                                 : nullptr;
        void* out = c.withOutput ? static_cast<void*>(output) : nullptr;
        engine->Reset();
        EXPECT_EQ(w.CallFunc(c.functionId, in, out), c.enabledResult) << c.why;
        EXPECT_EQ(engine->Calls(), c.engineCalls) << c.why;
    }
}

TEST_F(EngineWrapperTest, DisabledEngineServesGroupAOnly) {
    CZefEngineWrapper& w = Started();
    Disable(w);
    engine->Reset();
    engine->SetResult("QueryPtnPolicy", 1);  // a failed query: no item and nothing to free
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kBadArgument);
    EXPECT_EQ(w.CallFunc(kUnknownId, nullptr, nullptr), velk::kBadArgument);
    uint32_t other = 0x12345678;
    EXPECT_EQ(w.CallFunc(velk::kFnHostRequest1, &other, nullptr), velk::kBadArgument);
    EXPECT_TRUE(engine->Calls().empty());
    velk::PolicyQueryRequest request{1, 1};
    HostMessageObject reply;
    EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &request, &reply), velk::kSuccess);
    EXPECT_EQ(engine->Calls(), (Calls{"QueryPtnPolicy(1,1,ptr)"}));
}

TEST_F(EngineWrapperTest, NothingIsServedBeforeStartOrAfterStop) {
    CZefEngineWrapper& w = Make();
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kZefNotRunning);
    ASSERT_EQ(w.StartEngine(), 1u);
    w.StopEngine();
    engine->Reset();
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_TRUE(engine->Calls().empty());
}

// A listing callback that stops after `keep` files and counts what it saw.
struct Listing {
    uint32_t keep = 0;
    uint32_t seen = 0;
    uint64_t context = 0;
    uint64_t parameter = 0;
};
uint32_t ListingCallback(uint64_t context, const void*, uint64_t parameter, uint32_t reserved) {
    Listing& listing = *reinterpret_cast<Listing*>(static_cast<uintptr_t>(parameter));
    EXPECT_EQ(reserved, 0u);
    listing.context = context;
    ++listing.seen;
    return listing.seen < listing.keep ? 1 : 0;
}

TEST_F(EngineWrapperTest, ListingsWalkUntilTheCallbackStops) {
    CZefEngineWrapper& w = Started();
    Listing listing;
    const uint64_t self = reinterpret_cast<uintptr_t>(&listing);
    velk::BackupFileListRequest request{0xC0FFEE, ListingCallback, self};
    // Nothing found: no callback, no close, but connect and disconnect.
    engine->Reset();
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, &request, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->Calls(), (Calls{"ConnectBackupStorage", "FindFirstBackupFile(ptr)",
                                      "DisconnectBackupStorage"}));
    // A callback that stops at once: no next, but close and disconnect.
    engine->Reset();
    engine->SetResult("FindFirstBackupFile", 0x1000);
    engine->SetResult("FindNextBackupFile", 1);
    listing.keep = 1;
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, &request, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->Calls(), (Calls{"ConnectBackupStorage", "FindFirstBackupFile(ptr)",
                                      "FindBackupFileClose(ptr)", "DisconnectBackupStorage"}));
    EXPECT_EQ(listing.context, 0xC0FFEEu);
    // Three files, then the callback stops.
    listing = Listing{3};
    engine->Reset();
    engine->SetResult("FindFirstBackupFile", 0x1000);
    engine->SetResult("FindNextBackupFile", 1);
    w.CallFunc(velk::kFnListBackupFiles, &request, nullptr);
    EXPECT_EQ(listing.seen, 3u);
    EXPECT_EQ(engine->CallsTo({"FindNextBackupFile"}).size(), 2u);
    velk::BackupFileListRequest noCallback{0, nullptr, 0};
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, &noCallback, nullptr), velk::kBadArgument);
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, nullptr, nullptr), velk::kBadArgument);
}

TEST_F(EngineWrapperTest, RangeListingPassesBothTimesByAddress) {
    CZefEngineWrapper& w = Started();
    engine->Reset();
    velk::BackupFileRangeRequest request{};
    request.from = {1970, 1, 4, 1, 0, 0, 10, 0};
    request.to = {2026, 13, 0, 1, 0, 0, 0, 0};  // month 13: converts to 0
    Listing listing;
    request.callback = ListingCallback;
    request.parameter = reinterpret_cast<uintptr_t>(&listing);
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFilesInRange, &request, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"FindFirstBackupFileEx"}),
              (Calls{"FindFirstBackupFileEx(&10,&0,ptr)"}));
}

TEST(ZefTime, SecondsSince1970) {
    const struct {
        platform::SystemTime time;
        uint32_t seconds;
    } cases[] = {
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 1, 0}, 1},
        {{1969, 12, 3, 31, 23, 59, 59, 999}, 0},
        {{2026, 13, 0, 1, 0, 0, 0, 0}, 0},
        {{2026, 2, 0, 29, 0, 0, 0, 0}, 0},  // not a leap year
        {{2024, 2, 4, 29, 12, 0, 0, 0}, 1709208000},
        {{2000, 1, 6, 1, 0, 0, 0, 500}, 946684800},
        {{2106, 2, 0, 7, 6, 28, 16, 0}, 0},  // 2^32 seconds: kept to the low 32 bits
        {{2106, 2, 0, 7, 6, 28, 15, 0}, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine_time::ZefTimeFromSystemTime(&c.time), c.seconds) << c.time.wYear;
    }
    EXPECT_EQ(engine_time::ZefTimeFromSystemTime(nullptr), 0u);
    EXPECT_EQ(engine_time::FileTimeToUnixSeconds(116444736000000000ull + 10000000ull), 1u);
    EXPECT_EQ(engine_time::FileTimeToUnixSeconds(116444736000000000ull), 0u);
}

TEST_F(EngineWrapperTest, StartProtectsTheDatabaseFolderAndOpensTheReport) {
    std::vector<velk::DbProtectionRequest> requests;
    std::vector<std::u16string> folders;
    std::vector<uint32_t> functions;
    uint32_t answer = velk::kSuccess;
    host.AddInterface(20001, 200011, [&](uint32_t fn, void* in, void* out) {
        const auto* request = static_cast<const velk::DbProtectionRequest*>(in);
        EXPECT_EQ(out, nullptr);
        functions.push_back(fn);
        requests.push_back(*request);
        folders.emplace_back(request->folder, request->folderLength);
        return answer;
    });
    const std::u16string sep(1, platform::kPathSeparator);
    AnswerConfiguration([&](config::CConfigBatchCommands& reply) {
        reply.AddCommand(4, 0x03620003, folder.u16string() + sep + u"db" + sep);
        reply.AddCommand(4, 0x03620002, folder.u16string() + sep + u"logs");
    });
    CZefEngineWrapper& w = Started();
    ASSERT_EQ(functions, (std::vector<uint32_t>{0xACB4}));
    EXPECT_EQ(folders[0], folder.u16string() + sep + u"db") << "without the trailing separator";
    EXPECT_EQ(requests[0].one, 1u);
    EXPECT_EQ(requests[0].three, 3u);
    EXPECT_EQ(requests[0].one32, 1u);
    EXPECT_TRUE(std::filesystem::exists(folder / "logs" / "Report.log"));

    answer = 0xE0FF0001;
    w.StopEngine();
    EXPECT_EQ(functions, (std::vector<uint32_t>{0xACB4, 0xACB5}));
    EXPECT_EQ(folders[1], folders[0]);
    EXPECT_EQ(CapturedAt(1183).size(), 1u);
    EXPECT_EQ(CapturedAt(1183)[0].level, 3u);
    EXPECT_EQ(CapturedAt(1183)[0].text,
              "Failed: RemoveDBProtection " + Utf8(folder) + platform::ToUtf8(sep + u"db" + sep));
    EXPECT_EQ(engine->CallsTo({"Stop", "Finalize"}), (Calls{"Stop", "Finalize"}));
}

TEST_F(EngineWrapperTest, MissingStorageInterfaceIsAWarningOnly) {
    CZefEngineWrapper& w = Started();  // no (20001, 200011)
    EXPECT_EQ(CapturedAt(1150).size(), 1u);
    EXPECT_EQ(CapturedAt(1150)[0].text, "Failed: AddDBProtection " + Utf8(folder / "Data"));
    EXPECT_EQ(w.IsEngineStarted(), 1u);
}

TEST_F(EngineWrapperTest, PatternPoliciesAsOneListRecord) {
    CZefEngineWrapper& w = Started();
    engine->Reset();
    engine->SetPolicy(1, 1, 1, 1, 3, {u"first", nullptr, u"third"});
    engine->SetPolicy(1, 2, 4, 1, 7, {});
    engine->SetPolicy(2, 1, 1, 0, 2, {u"hidden", u"hidden"});
    engine->SetResult("QueryPtnPolicy", 0);
    velk::PolicyQueryRequest request{3, 3};
    HostMessageObject reply;
    ASSERT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &request, &reply), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"QueryPtnPolicy"}),
              (Calls{"QueryPtnPolicy(1,1,ptr)", "QueryPtnPolicy(1,2,ptr)", "QueryPtnPolicy(2,1,ptr)",
                     "QueryPtnPolicy(2,2,ptr)"}));
    EXPECT_EQ(engine->CallsTo({"FreePtnPolicy"}).size(), 4u);

    VELK_DataHandleWrapper message(reply.handle);
    VELK_DataHandleWrapper list;
    ASSERT_EQ(message.ReadDataAt(0x1028B, 0, list), velk::kSuccess);
    uint32_t items = 0, indexes = 0;
    list.GetSizeOf(0x1028C, items);
    list.GetSizeOf(0x20A99, indexes);
    EXPECT_EQ(items, 4u);
    EXPECT_EQ(indexes, 4u);
    VELK_DataHandleWrapper text;
    ASSERT_EQ(list.ReadDataAt(0x1028C, 0, text), velk::kSuccess);
    std::u16string first, second, third;
    EXPECT_EQ(text.GetWStringAt(25, first), velk::kSuccess);
    EXPECT_EQ(text.GetWStringAt(45, second), velk::kSuccess);
    EXPECT_TRUE(velk::Failed(text.GetWStringAt(65, third))) << "the null entry is left out";
    EXPECT_EQ(first, u"first");
    EXPECT_EQ(second, u"third");
    VELK_DataHandleWrapper numeric;
    list.ReadDataAt(0x1028C, 1, numeric);
    uint32_t value = 0;
    int32_t subtype = 0, type = 0, present = 0;
    numeric.GetUInt32At(3, value);
    numeric.GetInt32At(1, subtype);
    numeric.GetInt32At(2, type);
    numeric.GetInt32At(4, present);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(subtype, 2);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(present, 1);
    VELK_DataHandleWrapper absent;
    list.ReadDataAt(0x1028C, 2, absent);
    uint32_t textCount = 0;
    absent.GetSizeOf(25, textCount);
    EXPECT_EQ(textCount, 0u) << "a policy that is not present has no texts";
}

TEST_F(EngineWrapperTest, PatternPolicyMasks) {
    const struct {
        uint32_t subtypeMask;
        uint32_t typeMask;
        Calls queries;
    } cases[] = {
        {0, 0, {}},
        {8, 0, {"QueryPtnPolicy(1,8,ptr)"}},
        {8 | 4, 2, {"QueryPtnPolicy(2,4,ptr)", "QueryPtnPolicy(1,8,ptr)"}},
        {3, 3, {"QueryPtnPolicy(1,1,ptr)", "QueryPtnPolicy(1,2,ptr)", "QueryPtnPolicy(2,1,ptr)",
                "QueryPtnPolicy(2,2,ptr)"}},
    };
    CZefEngineWrapper& w = Started();
    for (const auto& c : cases) {
        engine->Reset();
        engine->SetResult("QueryPtnPolicy", 5);  // every query fails: no items, still success
        velk::PolicyQueryRequest request{c.subtypeMask, c.typeMask};
        HostMessageObject reply;
        EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &request, &reply), velk::kSuccess);
        EXPECT_EQ(engine->CallsTo({"QueryPtnPolicy"}), c.queries);
        EXPECT_TRUE(engine->CallsTo({"FreePtnPolicy"}).empty());
        VELK_DataHandleWrapper message(reply.handle), list;
        ASSERT_EQ(message.ReadDataAt(0x1028B, 0, list), velk::kSuccess);
        uint32_t fields = 0;
        list.GetSizeOf(0x20001, fields);
        EXPECT_EQ(fields, 1u);
    }
}

}  // namespace
