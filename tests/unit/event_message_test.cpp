// The event message reader on messages written by the FlatBuffers library, and on the same
// messages broken in every place the reader checks: each broken one is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "tests/fakes/event_messages.h"

namespace {

using velk::EventMessageView;
using velk::ReadEventMessage;

std::u16string Text(const velk::EventText& text) {
    std::u16string out(text.Length(), u'\0');
    text.CopyTo(out.data());
    return out;
}

// The event data at an odd address: every word and unit of it is misaligned.
struct OddCopy {
    explicit OddCopy(const std::vector<uint8_t>& data) : bytes(data.size() + 1) {
        std::memcpy(bytes.data() + 1, data.data(), data.size());
    }
    const void* Data() const { return bytes.data() + 1; }
    std::vector<uint8_t> bytes;
};

struct ReadCase {
    const char* name;
    EventMessageSpec spec;
    EventMessageLayout layout;
    EventMessageView expected;  // path compared as text below
    std::u16string path;
};

EventMessageView Expect(std::function<void(EventMessageView&)> set) {
    EventMessageView view;
    set(view);
    return view;
}

TEST(EventMessageReader, ReadsWhatTheLibraryWrote) {
    EventMessageSpec withPid = FileEvent(u"C:\\\u00e9t\u00e9\\book.docx", 0x20);
    withPid.processId = 4242;
    const EventMessageView withPidView =
        Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasFileEvent = true;
                             v.hasPath = true; v.processId = 4242; v.hasAttributeInfo = true;
                             v.hasAttributes = true; v.attributes = 0x20; });
    EventMessageSpec wmi;
    wmi.wmi = true;
    EventMessageSpec zeroId;
    zeroId.configId = 0;
    EventMessageSpec other = FileEvent(u"x", 1);
    other.infoType = 1;
    EventMessageSpec noValue = FileEvent(u"x", 1);
    noValue.infoValue = false;
    EventMessageSpec noBits = FileEvent(u"C:\\a", 0);
    noBits.attributes.reset();
    EventMessageSpec noPath = FileEvent(u"", 0x21);
    noPath.hasPath = false;
    noPath.attributeInfo = false;
    EventMessageSpec emptyPath = FileEvent(u"", 0x21);

    const ReadCase cases[] = {
        {"file event with process id", withPid, {}, withPidView, withPid.path},
        {"odd start and root place", withPid, {203, 5}, withPidView, withPid.path},
        {"root inside the header", withPid, {192, 0}, withPidView, withPid.path},
        {"nothing but an empty table", EventMessageSpec{}, {}, EventMessageView{}, u""},
        {"WMI event", wmi, {}, Expect([](auto& v) { v.hasWmi = true; }), u""},
        {"ConfigID written as 0", zeroId, {}, Expect([](auto& v) { v.hasConfigId = true; }), u""},
        {"union of another type", other, {},
         Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasAttributeInfo = true;
                              v.hasAttributes = true; v.attributes = 1; }),
         u""},
        {"union type without value", noValue, {},
         Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasAttributeInfo = true;
                              v.hasAttributes = true; v.attributes = 1; }),
         u""},
        {"attribute table without bits", noBits, {},
         Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasFileEvent = true;
                              v.hasPath = true; v.hasAttributeInfo = true; }),
         u"C:\\a"},
        {"file event without path or attributes", noPath, {},
         Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasFileEvent = true; }),
         u""},
        {"empty path", emptyPath, {},
         Expect([](auto& v) { v.hasConfigId = true; v.configId = 19; v.hasFileEvent = true;
                              v.hasPath = true; v.hasAttributeInfo = true; v.hasAttributes = true;
                              v.attributes = 0x21; }),
         u""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = EventMessageData(c.spec, c.layout);
        const OddCopy odd(data);
        for (const void* at : {static_cast<const void*>(data.data()), odd.Data()}) {
            EventMessageView view;
            ASSERT_TRUE(ReadEventMessage(at, &view));
            EXPECT_EQ(view.hasConfigId, c.expected.hasConfigId);
            EXPECT_EQ(view.configId, c.expected.configId);
            EXPECT_EQ(view.hasWmi, c.expected.hasWmi);
            EXPECT_EQ(view.hasFileEvent, c.expected.hasFileEvent);
            EXPECT_EQ(view.hasPath, c.expected.hasPath);
            EXPECT_EQ(Text(view.path), c.path);
            EXPECT_EQ(view.processId, c.expected.processId);
            EXPECT_EQ(view.hasAttributeInfo, c.expected.hasAttributeInfo);
            EXPECT_EQ(view.hasAttributes, c.expected.hasAttributes);
            EXPECT_EQ(view.attributes, c.expected.attributes);
        }
    }
}

// Positions inside a message written by the library, found through the generated code.
struct Places {
    explicit Places(const std::vector<uint8_t>& eventData) : data(eventData) {
        root = size_t{GetWord(data, 8)} + GetWord(data, 188);
        const auto* message = pez::test::GetEventMessage(data.data() + root);
        messageAt = At(message);
        const auto* file = message->info_as_FileEventInfo();
        fileAt = file != nullptr ? At(file) : 0;
        pathAt = file != nullptr && file->path() != nullptr ? At(file->path()) : 0;
        attributesAt = message->attributes() != nullptr ? At(message->attributes()) : 0;
    }
    size_t At(const void* p) const { return static_cast<const uint8_t*>(p) - data.data(); }
    // The field table of the table at `table`.
    size_t FieldsOf(size_t table) const {
        return table - static_cast<size_t>(static_cast<int32_t>(GetWord(data, table)));
    }
    // The place of the field's value (the reference word, for a reference field).
    size_t FieldOf(size_t table, int field) const {
        uint16_t entry;
        std::memcpy(&entry, data.data() + FieldsOf(table) + 4 + 2 * field, 2);
        return table + entry;
    }
    const std::vector<uint8_t>& data;
    size_t root, messageAt, fileAt, pathAt, attributesAt;
};

void PutHalf(std::vector<uint8_t>& data, size_t at, uint16_t value) {
    std::memcpy(data.data() + at, &value, sizeof value);
}

struct BreakCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&, const Places&)> breakIt;
};

TEST(EventMessageReader, RefusesEveryBrokenMessage) {
    EventMessageSpec full = FileEvent(u"C:\\data\\report.xlsx", 0x20);
    full.processId = 7;
    full.wmi = true;
    const BreakCase cases[] = {
        {"size 0", [](auto& d, auto&) { PutWord(d, 4, 0); }},
        {"size too small for the start offset", [](auto& d, auto&) { PutWord(d, 4, 11); }},
        {"size too small for the header", [](auto& d, auto&) { PutWord(d, 4, 191); PutWord(d, 8, 0); }},
        {"start offset at the size", [](auto& d, auto&) { PutWord(d, 8, static_cast<uint32_t>(d.size())); }},
        {"start offset past the size", [](auto& d, auto&) { PutWord(d, 8, 0xFFFFFFFF); }},
        {"root place past the size", [](auto& d, auto&) { PutWord(d, 188, 0xFFFFFFFF); }},
        // A size of 4 GiB: sums of header words must not wrap back into the block.
        {"size 4 GiB, start offset 4 GiB", [](auto& d, auto&) {
             PutWord(d, 4, 0xFFFFFFFF); PutWord(d, 8, 0xFFFFFFFF); }},
        {"size 4 GiB, root place wrapping", [](auto& d, auto&) {
             PutWord(d, 4, 0xFFFFFFFF); PutWord(d, 8, 0xFFFFFFFE); PutWord(d, 188, 0xFFFFFFFF); }},
        {"size 4 GiB, root place past it", [](auto& d, auto&) {
             PutWord(d, 4, 0xFFFFFFFF); PutWord(d, 8, 0x80000000); PutWord(d, 188, 0x80000000); }},
        {"root place on the last byte", [](auto& d, auto&) {
             PutWord(d, 188, static_cast<uint32_t>(d.size()) - 1 - GetWord(d, 8)); }},
        {"root offset past the end", [](auto& d, auto& p) { PutWord(d, p.root, 0x7FFFFFFF); }},
        {"root offset to the last bytes", [](auto& d, auto& p) {
             PutWord(d, p.root, static_cast<uint32_t>(d.size() - p.root - 2)); }},
        {"field table back into the header", [](auto& d, auto& p) {
             PutWord(d, p.messageAt, static_cast<uint32_t>(p.messageAt - p.root + 1)); }},
        {"field table far back", [](auto& d, auto& p) { PutWord(d, p.messageAt, 0x7FFFFFFF); }},
        {"field table past the end", [](auto& d, auto& p) { PutWord(d, p.messageAt, 0x80000000); }},
        {"field table that overruns", [](auto& d, auto& p) { PutHalf(d, p.FieldsOf(p.messageAt), 0xFFFE); }},
        {"scalar past the end", [](auto& d, auto& p) {
             PutHalf(d, p.FieldsOf(p.messageAt) + 4, static_cast<uint16_t>(d.size() - p.messageAt - 2)); }},
        {"WMI reference past the end", [](auto& d, auto& p) { PutWord(d, p.FieldOf(p.messageAt, 3), 0xFFFFFF00); }},
        {"union value past the end", [](auto& d, auto& p) { PutWord(d, p.FieldOf(p.messageAt, 6), 0x40000000); }},
        {"attribute table past the end", [](auto& d, auto& p) { PutWord(d, p.FieldOf(p.messageAt, 13), 0xFFFFFFF0); }},
        {"attribute table's field table into the header", [](auto& d, auto& p) {
             PutWord(d, p.attributesAt, static_cast<uint32_t>(p.attributesAt - p.root + 2)); }},
        {"path reference past the end", [](auto& d, auto& p) { PutWord(d, p.FieldOf(p.fileAt, 0), 0x10000000); }},
        {"path longer than the buffer", [](auto& d, auto& p) { PutWord(d, p.pathAt, 0x7FFFFFFF); }},
        {"path of 4 Gi units", [](auto& d, auto& p) { PutWord(d, p.pathAt, 0xFFFFFFFF); }},
        {"path one unit too long", [](auto& d, auto& p) {
             PutWord(d, p.pathAt, static_cast<uint32_t>((d.size() - p.pathAt - 4) / 2 + 1)); }},
    };
    for (const BreakCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> data = EventMessageData(full, {200, 4});
        const Places places(data);
        ASSERT_NE(places.pathAt, 0u);
        EventMessageView whole;
        ASSERT_TRUE(ReadEventMessage(data.data(), &whole));  // whole before it is broken
        c.breakIt(data, places);
        // Exactly as big as the message says (when it says less than it holds), so that a
        // read past its end is caught by AddressSanitizer.
        const uint32_t size = GetWord(data, 4);
        if (size >= 8 && size < data.size()) data.resize(size);
        data.shrink_to_fit();
        const OddCopy odd(data);
        for (const void* at : {static_cast<const void*>(data.data()), odd.Data()}) {
            EventMessageView view;
            view.configId = 99;
            EXPECT_FALSE(ReadEventMessage(at, &view));
            EXPECT_EQ(view.configId, 0u);  // reset, nothing half read
            EXPECT_FALSE(view.hasFileEvent);
        }
    }
}

TEST(EventMessageReader, RefusesUnionValueOfAnotherTable) {
    // Type 11 with a table whose first field is a large number: read as the path's reference,
    // it points past the end.
    EventMessageSpec spec = FileEvent(u"C:\\x", 0);
    spec.otherValue = true;
    spec.otherNumber = 0x7FFFFF00;
    EventMessageView view;
    EXPECT_FALSE(ReadEventMessage(EventMessageData(spec).data(), &view));
}

TEST(EventMessageReader, RefusesNull) {
    EventMessageView view;
    EXPECT_FALSE(ReadEventMessage(nullptr, &view));
}

}  // namespace
