// Host events through CallFunc 24105 on a started wrapper: what reaches the fake engine, what
// the process event's response holds, and which diagnostic lines are written. Event messages
// are written with the FlatBuffers library.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/log_library_control.h"
#include "tests/fakes/event_messages.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

using Texts = std::vector<std::string>;
constexpr uint32_t kUntouched = 0xDEADBEEF;

std::unique_ptr<velk::EventRecord> Event(uint32_t eventId, const void* data) {
    auto record = std::make_unique<velk::EventRecord>();
    std::memset(record.get(), 0x5A, sizeof *record);  // the host's fields hold anything
    record->eventId = eventId;
    record->eventData = data;
    return record;
}

class EventForwardingTest : public EngineWrapperTest {
protected:
    CZefEngineWrapper& Ready() {
        CZefEngineWrapper& w = Started();
        engine->Reset();
        StartLogCapture();
        return w;
    }
};

TEST_F(EventForwardingTest, ProcessEvents) {
    const struct {
        const char* why;
        uint32_t eventClass;
        uint8_t flags;
        uint32_t operation;
        const char16_t* wideName;
        uint64_t pidListResult;
        uint32_t response;
        Calls calls;
        Texts lines;
    } cases[] = {
        {"acknowledged only", 1, 4, 9, u"a.exe", 0, velk::kSuccess, {}, {}},
        {"acknowledged only, any operation", 7, 0xFF, 3, nullptr, 0, velk::kSuccess, {}, {}},
        {"another operation", 1, 0, 5, u"a.exe", 0, kUntouched, {}, {}},
        {"another class", 2, 0, 9, u"a.exe", 0, kUntouched, {}, {}},
        {"terminated, wide name", 1, 0, 9, u"notepad.exe", 0, velk::kSuccess,
         {"UpdateObjPidList(2,1234)"}, {"Terminate process: 0x4d2,name:notepad.exe"}},
        {"terminated, narrow name", 1, 3, 9, nullptr, 0, velk::kSuccess,
         {"UpdateObjPidList(2,1234)"}, {"Terminate process: 0x4d2,name:calc.exe"}},
        {"terminated, narrow name longer than the record's room", 1, 3, 9, nullptr, 0,
         velk::kSuccess, {"UpdateObjPidList(2,1234)"},
         {"Terminate process: 0x4d2,name:" + std::string(600, 'n')}},
        {"process list not updated", 1, 0, 9, u"x.exe", 1, 0xE0360006,
         {"UpdateObjPidList(2,1234)"}, {"Terminate process: 0x4d2,name:x.exe"}},
    };
    CZefEngineWrapper& w = Ready();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        // The narrow name may run past the record: room for a long one behind it.
        struct {
            velk::ProcessEventRecord record;
            char rest[400];
        } room;
        velk::ProcessEventRecord& process = room.record;
        std::memset(&room, 0x5A, sizeof room);
        process.eventClass = c.eventClass;
        process.flags = c.flags;
        process.operation = c.operation;
        process.processId = 1234;
        process.imageName = c.wideName;
        const std::string narrow = c.lines.empty() || c.lines[0].find("nnn") == std::string::npos
                                       ? "calc.exe" : std::string(600, 'n');
        char* const narrowAt =
            reinterpret_cast<char*>(&room) + offsetof(velk::ProcessEventRecord, narrowImageName);
        std::memcpy(narrowAt, narrow.c_str(), narrow.size() + 1);
        const auto record = Event(velk::kEventProcess, &process);
        engine->Reset();
        engine->SetResult("UpdateObjPidList", c.pidListResult);
        StartLogCapture();
        uint32_t response = kUntouched;
        EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, record.get(), &response), velk::kSuccess);
        EXPECT_EQ(response, c.response);
        EXPECT_EQ(engine->Calls(), c.calls);
        EXPECT_EQ(Lines(), c.lines);
    }
}

TEST_F(EventForwardingTest, EventsByIdMissingPointersAndRefusals) {
    CZefEngineWrapper& w = Ready();
    uint8_t opaque[16] = {};
    uint32_t response = kUntouched;
    EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, nullptr, &response), velk::kBadArgument);
    for (uint32_t id : {velk::kEventOpaque, velk::kEventProcess, velk::kEventIntegration, 0u}) {
        const auto empty = Event(id, nullptr);
        EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, empty.get(), &response), velk::kSuccess);
    }
    const auto other = Event(0x10002005, opaque);
    EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, other.get(), &response), velk::kSuccess);
    EXPECT_TRUE(engine->Calls().empty());
    const auto forwarded = Event(velk::kEventOpaque, opaque);
    EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, forwarded.get(), &response), velk::kSuccess);
    EXPECT_EQ(engine->Calls(), (Calls{"NotifyEvent(" + FakeAddress(opaque) + ")"}));
    EXPECT_EQ(response, kUntouched);
    EXPECT_TRUE(Lines().empty());
    // A process event that would be answered needs the response; a disabled engine takes none.
    velk::ProcessEventRecord process{};
    process.eventClass = 1;
    process.operation = 9;
    const auto terminated = Event(velk::kEventProcess, &process);
    engine->Reset();
    EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, terminated.get(), nullptr), velk::kBadArgument);
    Disable(w);
    EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, forwarded.get(), &response), velk::kBadArgument);
    EXPECT_TRUE(engine->Calls().empty());
}

EventMessageSpec With(EventMessageSpec spec, void (*change)(EventMessageSpec&)) {
    change(spec);
    return spec;
}

// Event messages: which reach the engine, with which lines; an unreadable one is refused with
// its line, and while tracing is off no line is written (nor the path copied).
TEST_F(EventForwardingTest, EventMessages) {
    const std::u16string path = u"C:\\Users\\ann\\report.docx";
    const auto shown = [](const char* attribute) {
        return std::string(", Filepath: C:\\Users\\ann\\report.docx, Attribute: ") + attribute;
    };
    const std::string readOnly =
        "File is readonly, encrypt file will fail, so we don't trigger ZEF to backup it.";
    const auto startAtSize = [](std::vector<uint8_t>& d) { PutWord(d, 8, GetWord(d, 4)); };
    const auto rootPastEnd = [](std::vector<uint8_t>& d) { PutWord(d, GetWord(d, 8) + GetWord(d, 188), 0x40000000); };
    const struct {
        const char* why;
        EventMessageSpec spec;
        bool forwarded;
        Texts lines;
        void (*spoil)(std::vector<uint8_t>&) = nullptr;
        uint32_t level = 1;  // the lowest level written
        uint32_t result = velk::kSuccess;
    } cases[] = {
        {"read-only file", FileEvent(path, 0x21), false, {shown("0x21"), readOnly}},
        {"file that may be written", FileEvent(path, 0x20), true, {shown("0x20")}},
        {"attribute bits 0", FileEvent(path, 0), true, {shown("0")}},
        {"attribute table without bits",
         With(FileEvent(path, 1), [](EventMessageSpec& s) { s.attributes.reset(); }), true, {shown("0")}},
        {"no path", With(FileEvent(path, 0x80), [](EventMessageSpec& s) { s.hasPath = false; }), true,
         {", Filepath: NULL, Attribute: 0x80"}},
        {"read-only without path",
         With(FileEvent(path, 1), [](EventMessageSpec& s) { s.hasPath = false; }), false,
         {", Filepath: NULL, Attribute: 0x1", readOnly}},
        {"no field 13", With(FileEvent(path, 0), [](EventMessageSpec& s) { s.attributeInfo = false; }),
         false, {}},
        {"union of another type", With(FileEvent(path, 0), [](EventMessageSpec& s) { s.infoType = 1; }),
         false, {}},
        {"union type without value",
         With(FileEvent(path, 0), [](EventMessageSpec& s) { s.infoValue = false; }), false, {}},
        {"ConfigID 7", With({}, [](EventMessageSpec& s) { s.configId = 7; s.wmi = true; }), false,
         {", Unhandled ConfigID = 0x7"}},
        {"ConfigID 2 of a file event's shape",
         With(FileEvent(path, 0), [](EventMessageSpec& s) { s.configId = 2; }), false,
         {", Unhandled ConfigID = 0x2"}},
        {"WMI event", With({}, [](EventMessageSpec& s) { s.wmi = true; }), false,
         {"WMI Event incoming, ignore it."}},
        {"WMI event with ConfigID 1", With({}, [](EventMessageSpec& s) { s.wmi = true; s.configId = 1; }),
         false, {"WMI Event incoming, ignore it."}},
        {"ConfigID 0 of a file event's shape",
         With(FileEvent(path, 0), [](EventMessageSpec& s) { s.configId = 0; }), false, {}},
        {"neither ConfigID nor WMI", EventMessageSpec{}, false, {}},
        {"the start offset at the size", FileEvent(path, 0), false, {"pEventData is NULL"}, startAtSize, 1,
         velk::kBadArgument},
        {"the root past the end", FileEvent(path, 0), false, {"pEventData is NULL"}, rootPastEnd, 1, velk::kBadArgument},
        {"writable, tracing off", FileEvent(path, 0x20), true, {}, nullptr, 3},
        {"read-only, tracing off", FileEvent(path, 0x21), false, {}, nullptr, 3},
    };
    CZefEngineWrapper& w = Ready();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> data = EventMessageData(c.spec, {211, 3});
        if (c.spoil != nullptr) c.spoil(data);
        const auto record = Event(velk::kEventIntegration, data.data());
        engine->Reset();
        StartLogCapture();
        Quastle_SetDefaultLevel(c.level);
        uint32_t response = kUntouched;
        EXPECT_EQ(w.CallFunc(velk::kFnForwardEvent, record.get(), &response), c.result);
        EXPECT_EQ(engine->Calls(),
                  c.forwarded ? Calls{"NotifyEvent(" + FakeAddress(data.data()) + ")"} : Calls{});
        EXPECT_EQ(Lines(), c.lines);
        EXPECT_EQ(response, kUntouched);
    }
}

}  // namespace
