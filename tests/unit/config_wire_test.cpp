// The configuration wire format as the host sees it, read with the message library alone:
// each field's name, kind and width in the order written, for every value class, a command
// and a batch with its header; and a reply command that carries a value but no status.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config_batch.h"
#include "config/config_value.h"
#include "host/result_codes.h"
#include "reference/morrick/morrick_inspection.h"

namespace {

struct FieldSeen {
    uint32_t nameId;
    uint32_t kind;
    uint32_t bytes;  // binary and text fields; 0 for the others
    bool operator==(const FieldSeen& other) const {
        return nameId == other.nameId && kind == other.kind && bytes == other.bytes;
    }
};
std::ostream& operator<<(std::ostream& out, const FieldSeen& field) {
    return out << std::hex << "{0x" << field.nameId << ", kind " << field.kind << ", "
               << std::dec << field.bytes << " bytes}";
}
using Fields = std::vector<FieldSeen>;

constexpr uint32_t kInt32 = MORRICK_FIELD_INT32, kUInt32 = MORRICK_FIELD_UINT32,
                   kBinary = MORRICK_FIELD_BINARY, kString = MORRICK_FIELD_STRING,
                   kWString = MORRICK_FIELD_WSTRING, kRecord = MORRICK_FIELD_RECORD;

Fields FieldsOf(VELK_DataHandle record) {
    Fields fields;
    FieldSeen field{};
    for (uint32_t i = 0;
         velk::Succeeded(Morrick_GetFieldAt(record, i, &field.nameId, &field.kind, &field.bytes)); ++i) {
        fields.push_back(field);
    }
    return fields;
}

// A nested record, as a host fetches it; released with the holder.
struct Nested {
    Nested(VELK_DataHandle parent, uint32_t nameId, uint32_t index = 0) {
        VELK_Msg_GetDataAt(parent, nameId, index, &handle);
    }
    ~Nested() { VELK_Msg_DestroyDataHandle(&handle); }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
    VELK_DataHandle handle{};
};

std::vector<uint8_t> BinaryOf(VELK_DataHandle record, uint32_t nameId) {
    uint8_t bytes[16] = {};
    uint32_t size = sizeof bytes;
    VELK_Msg_GetBinaryAt(record, nameId, 0, bytes, size, &size);
    return std::vector<uint8_t>(bytes, bytes + size);
}

TEST(ConfigWire, EachValueClassWritesItsDatumInItsOwnKindAndWidth) {
    using Set = void (*)(config::CConfigValue&);
    const struct {
        uint32_t tag;
        Set set;
        uint32_t kind;
        std::vector<uint8_t> bytes;  // binary: the bytes; 32-bit: the value, little-endian
    } cases[] = {
        {config::CVT_BOOL, [](config::CConfigValue& v) { v.SetValue(true); }, kInt32, {1, 0, 0, 0}},
        {config::CVT_CHAR, [](config::CConfigValue& v) { v.SetValue(static_cast<char>(-2)); }, kBinary, {0xFE}},
        {config::CVT_UCHAR, [](config::CConfigValue& v) { v.SetValue(static_cast<unsigned char>(0xAB)); }, kBinary, {0xAB}},
        {config::CVT_SHORT, [](config::CConfigValue& v) { v.SetValue(static_cast<short>(-2)); }, kBinary, {0xFE, 0xFF}},
        {config::CVT_USHORT, [](config::CConfigValue& v) { v.SetValue(static_cast<unsigned short>(0x1234)); }, kBinary, {0x34, 0x12}},
        {config::CVT_INT, [](config::CConfigValue& v) { v.SetValue(-5); }, kInt32, {0xFB, 0xFF, 0xFF, 0xFF}},
        {config::CVT_UINT, [](config::CConfigValue& v) { v.SetValue(0x89ABCDEFu); }, kUInt32, {0xEF, 0xCD, 0xAB, 0x89}},
        {config::CVT_INT64, [](config::CConfigValue& v) { v.SetValue(int64_t{-0x0102030405060708}); }, kBinary,
         {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}},
        {config::CVT_UINT64, [](config::CConfigValue& v) { v.SetValue(uint64_t{0x0102030405060708}); }, kBinary,
         {8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (const auto& c : cases) {
        const auto value = config::CreateEmptyConfigValue(c.tag);
        c.set(*value);
        VELK_DataHandleWrapper command(0x70002, true);
        ASSERT_EQ(value->Serialize(command), velk::kSuccess) << c.tag;
        EXPECT_EQ(FieldsOf(command.Handle()), (Fields{{0x70007, kInt32, 0}, {0x70005, kRecord, 0}})) << c.tag;
        int32_t tag = 0;
        VELK_Msg_GetInt32At(command.Handle(), 0x70007, 0, &tag);
        EXPECT_EQ(tag, static_cast<int32_t>(c.tag));

        const Nested record(command.Handle(), 0x70005);
        uint32_t recordName = 0;
        VELK_Msg_GetNameID(record.handle, &recordName);
        EXPECT_EQ(recordName, 0x70005u) << c.tag;
        const uint32_t width = c.kind == kBinary ? static_cast<uint32_t>(c.bytes.size()) : 0;
        EXPECT_EQ(FieldsOf(record.handle), (Fields{{0x70005, c.kind, width}})) << c.tag;
        if (c.kind == kBinary) {
            EXPECT_EQ(BinaryOf(record.handle, 0x70005), c.bytes) << c.tag;
        } else {
            uint32_t number = 0;
            VELK_Msg_GetUInt32At(record.handle, 0x70005, 0, &number);
            uint32_t expected = 0;
            std::memcpy(&expected, c.bytes.data(), 4);
            EXPECT_EQ(number, expected) << c.tag;
        }
    }

    // Text: the units without a terminator.
    const auto text = config::CreateEmptyConfigValue(config::CVT_WSTR);
    text->SetValue(std::u16string(u"C:\\db"));
    VELK_DataHandleWrapper command(0x70002, true);
    text->Serialize(command);
    const Nested record(command.Handle(), 0x70005);
    EXPECT_EQ(FieldsOf(record.handle), (Fields{{0x70005, kWString, 10}}));
    char16_t units[8] = {};
    uint32_t length = 0;
    VELK_Msg_GetWStringAt(record.handle, 0x70005, 0, units, 8, &length);
    EXPECT_EQ(std::u16string(units, length), u"C:\\db");
}

// The batch's fields in order, its action, its header, and its commands in ascending key order
// (of a key given twice the first wins).
TEST(ConfigWire, BatchCommandAndHeaderFieldsInTheirOrder) {
    config::CConfigBatchCommands batch(2);
    EXPECT_EQ(batch.AddCommand(4, 0x03670004, 1024), velk::kSuccess);
    EXPECT_EQ(batch.AddCommand(4, 0x03610009, true), velk::kSuccess);
    EXPECT_EQ(batch.AddCommand(4, 0x03670004, 2048), velk::kSuccess);  // same key: dropped
    VELK_DataHandleWrapper out;
    ASSERT_EQ(batch.Serialize(out), velk::kSuccess);
    uint32_t name = 0, action = 0;
    VELK_Msg_GetNameID(out.Handle(), &name);
    EXPECT_EQ(name, 0x70001u);
    VELK_Msg_GetUInt32At(out.Handle(), 0x70003, 0, &action);
    EXPECT_EQ(action, 2u);
    int size = 0;
    EXPECT_EQ(config::CConfigBatchCommands(out).GetValue(0x03670004, size), velk::kSuccess);
    EXPECT_EQ(size, 1024);
    EXPECT_EQ(FieldsOf(out.Handle()), (Fields{{0x70003, kUInt32, 0}, {0x20515, kRecord, 0},
                                              {0x70002, kRecord, 0}, {0x70002, kRecord, 0}}));

    const Nested header(out.Handle(), 0x20515);
    EXPECT_EQ(FieldsOf(header.handle), (Fields{{0x207D3, kString, 0}, {0x10002, kRecord, 0}}));
    const Nested texts(header.handle, 0x10002);
    EXPECT_EQ(FieldsOf(texts.handle), (Fields{{0x2076D, kString, 0}, {0x2076E, kString, 0},
                                              {0x10001, kRecord, 0}, {0x10003, kRecord, 0}}));
    const Nested wide(texts.handle, 0x10001);
    EXPECT_EQ(FieldsOf(wide.handle), (Fields{{0x20641, kUInt32, 0}, {0x20640, kWString, 0}}));
    const Nested numbers(texts.handle, 0x10003);
    EXPECT_EQ(FieldsOf(numbers.handle),
              (Fields{{0x20899, kUInt32, 0}, {0x2089A, kUInt32, 0}, {0x2089B, kUInt32, 0}}));
    // Each command: type, key, status, value type, value record.
    const uint32_t keys[] = {0x03610009, 0x03670004};
    for (uint32_t i = 0; i < 2; ++i) {
        const Nested command(out.Handle(), 0x70002, i);
        EXPECT_EQ(FieldsOf(command.handle),
                  (Fields{{0x70006, kInt32, 0}, {0x70004, kUInt32, 0}, {0x70008, kInt32, 0},
                          {0x70007, kInt32, 0}, {0x70005, kRecord, 0}})) << i;
        uint32_t type = 0, key = 0, status = 0;
        VELK_Msg_GetUInt32At(command.handle, 0x70006, 0, &type);
        VELK_Msg_GetUInt32At(command.handle, 0x70004, 0, &key);
        VELK_Msg_GetUInt32At(command.handle, 0x70008, 0, &status);
        EXPECT_EQ(type, 4u);
        EXPECT_EQ(key, keys[i]);
        EXPECT_EQ(status, velk::kSuccess);
    }
}

// A parsed command starts with the status "not done" and keeps it when the reply has none:
// its value is there but is not handed out.
TEST(ConfigWire, ReplyCommandWithAValueAndNoStatusIsNotRead) {
    VELK_DataHandleWrapper reply(0x70001, true);
    reply.PutUInt32(0x70003, 2);
    VELK_DataHandleWrapper command(0x70002, true);
    command.PutInt32(0x70006, 4);
    command.PutUInt32(0x70004, 0x03670004);
    command.PutInt32(0x70007, static_cast<int32_t>(config::CVT_INT));
    VELK_DataHandleWrapper value(0x70005, true);
    value.PutInt32(0x70005, 77);
    command.PutData(value);
    reply.PutData(command);

    const config::CConfigBatchCommands parsed(reply);
    int number = 5;
    EXPECT_EQ(parsed.GetValue(0x03670004, number), velk::kNotDone);
    EXPECT_EQ(number, 5);
}

}  // namespace
