// The event message reader on messages broken in every place the reader checks, each refused;
// on messages written by the FlatBuffers library, intact and damaged at random, where the reader
// agrees with the code flatc generates wherever the library's verifier accepts the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "tests/fakes/event_messages.h"

namespace {

using velk::EventMessageView;
using velk::ReadEventMessage;

// The event data at an odd address: every word and unit of it is misaligned.
struct OddCopy {
    explicit OddCopy(const std::vector<uint8_t>& data) : bytes(data.size() + 1) {
        std::memcpy(bytes.data() + 1, data.data(), data.size());
    }
    const void* Data() const { return bytes.data() + 1; }
    std::vector<uint8_t> bytes;
};

namespace fb = pez::test;

template <typename Change>
EventMessageSpec With(EventMessageSpec spec, Change change) {
    change(spec);
    return spec;
}

bool Has(const void* table, flatbuffers::voffset_t field) {
    return static_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

// The decision fields of a view (the path copied whole and unit by unit), and the same fields
// read through the generated code.
auto FieldsOf(const EventMessageView& v) {
    std::u16string copied(v.path.Length(), u'\0'), units;
    v.path.CopyTo(copied.data());
    for (uint32_t i = 0; i < v.path.Length(); ++i) units += v.path.At(i);
    return std::make_tuple(v.hasConfigId, v.configId, v.hasWmi, v.hasFileEvent, v.hasPath, copied, units,
                           v.processId, v.hasAttributeInfo, v.hasAttributes, v.attributes);
}
auto GeneratedFieldsOf(const uint8_t* buffer) {
    const fb::EventMessage* message = fb::GetEventMessage(buffer);
    const fb::FileEventInfo* file = message->info_as_FileEventInfo();
    const auto* path = file != nullptr ? file->path() : nullptr;
    const std::u16string units = path != nullptr ? std::u16string(path->begin(), path->end()) : u"";
    const fb::FileAttributeInfo* attributes = message->attributes();
    return std::make_tuple(Has(message, fb::EventMessage::VT_CONFIG_ID), message->config_id(),
                           Has(message, fb::EventMessage::VT_WMI), file != nullptr, path != nullptr, units, units,
                           file != nullptr ? file->process_id() : 0u, attributes != nullptr,
                           attributes != nullptr && Has(attributes, fb::FileAttributeInfo::VT_ATTRIBUTES),
                           attributes != nullptr ? attributes->attributes() : 0u);
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

TEST(EventMessageReader, RefusesEveryBrokenMessage) {
    const auto full = With(FileEvent(u"C:\\data\\report.xlsx", 0x20), [](auto& s) { s.processId = 7; s.wmi = true; });
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&, const Places&)> breakIt;
    } cases[] = {
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
    for (const auto& c : cases) {
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
    // Type 11 with a table whose first field is a large number: read as the path's reference,
    // it points past the end.
    const auto other = With(FileEvent(u"C:\\x", 0), [](auto& s) { s.otherValue = true; s.otherNumber = 0x7FFFFF00; });
    EventMessageView view;
    EXPECT_FALSE(ReadEventMessage(EventMessageData(other).data(), &view));
    EXPECT_FALSE(ReadEventMessage(nullptr, &view));
}

// Messages the library wrote, in several layouts, read at an even and an odd address, intact
// and then damaged at random: the intact ones are read, and wherever the library's verifier
// accepts a buffer the reader gives what the generated code reads.
TEST(EventMessageReader, AgreesWithTheGeneratedCodeOnWrittenAndDamagedMessages) {
    const EventMessageSpec withPid = With(FileEvent(u"C:\\\u00e9t\u00e9\\book.docx", 0x20), [](auto& s) { s.processId = 4242; });
    const struct {
        const char* name;
        EventMessageSpec spec;
        EventMessageLayout layout;
    } cases[] = {
        {"file event with process id", withPid, {}},
        {"odd start and root place", withPid, {203, 5}},
        {"root inside the header", With(withPid, [](auto& s) { s.wmi = true; }), {192, 0}},
        {"nothing but an empty table", EventMessageSpec{}, {}},
        {"ConfigID written as 0", With({}, [](auto& s) { s.configId = 0; }), {}},
        {"union of another type", With(FileEvent(u"x", 1), [](auto& s) { s.infoType = 1; }), {}},
        {"union type without value", With(FileEvent(u"x", 1), [](auto& s) { s.infoValue = false; }), {}},
        {"union value of another table", With(FileEvent(u"y", 0), [](auto& s) { s.otherValue = true; s.otherNumber = 12; }), {}},
        {"attribute table without bits", With(FileEvent(u"C:\\a", 0), [](auto& s) { s.attributes.reset(); }), {}},
        {"file event without path or attributes",
         With(FileEvent(u"", 0x21), [](auto& s) { s.hasPath = false; s.attributeInfo = false; }), {}},
        {"empty path", FileEvent(u"", 0x21), {}},
    };
    std::mt19937 random(20261205);
    size_t accepted = 0, refusedByBoth = 0;
    for (const auto& c : cases) {
        const std::vector<uint8_t> original = EventMessageBuffer(c.spec);
        for (int round = 0; round < 1500; ++round) {
            std::vector<uint8_t> buffer = original;
            // A few damaged bytes or words, and now and then a shorter buffer.
            for (int damage = round == 0 ? 0 : 1 + static_cast<int>(random() % 3); damage > 0; --damage) {
                const size_t at = random() % buffer.size();
                if (random() % 2 == 0 || at + 4 > buffer.size()) {
                    buffer[at] = static_cast<uint8_t>(random());
                } else {
                    const uint32_t word = random() % 3 == 0 ? static_cast<uint32_t>(random())
                                                            : static_cast<uint32_t>(random() % 64);
                    std::memcpy(buffer.data() + at, &word, sizeof word);
                }
            }
            if (round % 10 == 5) buffer.resize(random() % buffer.size() + 1);
            SCOPED_TRACE(testing::Message() << c.name << ", round " << round);
            std::vector<uint8_t> data = EventMessageData(buffer, c.layout);
            data.shrink_to_fit();
            const uint8_t* flat = data.data() + c.layout.start + c.layout.rootAt;
            flatbuffers::Verifier verifier(flat, buffer.size());
            const bool verified = fb::VerifyEventMessageBuffer(verifier);
            const OddCopy odd(data);
            for (const void* at : {static_cast<const void*>(data.data()), odd.Data()}) {
                velk::EventMessageView view;
                const bool read = velk::ReadEventMessage(at, &view);
                ASSERT_TRUE(read || round != 0 || c.spec.otherValue) << "an intact message";
                if (verified) {
                    ++accepted;
                    ASSERT_TRUE(read) << "the verifier accepts what the reader refuses";
                    EXPECT_EQ(FieldsOf(view), GeneratedFieldsOf(flat));
                } else if (!read) {
                    ++refusedByBoth;
                } else {
                    // What was read fits in the buffer (AddressSanitizer checks where it lies).
                    EXPECT_LE(4 + 2 * uint64_t{view.path.Length()}, buffer.size());
                    EXPECT_TRUE(!view.hasPath || view.hasFileEvent);
                }
            }
        }
    }
    // Every kind of outcome occurred, so the comparison was not vacuous.
    EXPECT_GT(accepted, 2000u);
    EXPECT_GT(refusedByBoth, 2000u);
}

}  // namespace
