// Configuration batches through the reference message library: the wire form a host reads
// (each field's name and kind in the order written, each value class's datum), replies as a
// host builds them and the reading rules by key and status, malformed replies, and commands
// with their dispatch.
#include "config/config_batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/result_codes.h"
#include "reference/morrick/morrick_inspection.h"

namespace {

using config::CConfigBatchCommands;
constexpr uint32_t kOk = velk::kSuccess;
constexpr uint32_t kRefused = velk::kBadArgument;
constexpr uint32_t kDbSize = 0x03670004, kLogPath = 0x03620002, kEnable = 0x03610009, kWorkMode = 0x0367000A;

// A record's fields in order, as "name:kind" in hex, with ":bytes" for binary and text fields.
std::string FieldsOf(const VELK_DataHandleWrapper& record) {
    std::string fields;
    uint32_t name = 0, kind = 0, bytes = 0;
    for (uint32_t i = 0; velk::Succeeded(Morrick_GetFieldAt(record.Handle(), i, &name, &kind, &bytes)); ++i) {
        char field[40];
        std::snprintf(field, sizeof field, bytes != 0 ? "%s%x:%u:%u" : "%s%x:%u", i == 0 ? "" : " ", name, kind, bytes);
        fields += field;
    }
    return fields;
}
struct Nested {
    Nested(const VELK_DataHandleWrapper& parent, uint32_t nameId, uint32_t index = 0) {
        parent.GetDataAt(nameId, index, record);
    }
    VELK_DataHandleWrapper record;
};
// The bytes of a value record's datum, little-endian.
std::vector<uint8_t> DatumOf(const VELK_DataHandleWrapper& value, uint32_t kind) {
    std::vector<uint8_t> bytes(16);
    uint32_t size = 16, number = 0;
    std::u16string text;
    if (kind == MORRICK_FIELD_BINARY) {
        value.GetBinaryAt(config::CFGMSG_VALUE, bytes.data(), size);
    } else if (kind == MORRICK_FIELD_WSTRING) {
        value.GetWStringAt(config::CFGMSG_VALUE, text);
        size = static_cast<uint32_t>(2 * text.size());
        std::memcpy(bytes.data(), text.data(), size);
    } else {
        value.GetUInt32At(config::CFGMSG_VALUE, number);
        size = 4;
        std::memcpy(bytes.data(), &number, size);
    }
    bytes.resize(size);
    return bytes;
}

// A reply command record as a host writes it; no status field when status is 0.
void AddReplyCommand(VELK_DataHandleWrapper& batch, uint32_t key, uint32_t status, int32_t valueType,
                     std::optional<int32_t> number = std::nullopt) {
    VELK_DataHandleWrapper command(config::CFGMSG_COMMAND, true);
    command.PutInt32(config::CFGMSG_COMMAND_TYPE, 4);
    command.PutUInt32(config::CFGMSG_NAME_ID, key);
    if (status != 0) command.PutInt32(config::CFGMSG_STATUS, static_cast<int32_t>(status));
    command.PutInt32(config::CFGMSG_VALUE_TYPE, valueType);
    VELK_DataHandleWrapper value(config::CFGMSG_VALUE, true);
    if (number) value.PutInt32(config::CFGMSG_VALUE, *number);
    command.PutData(value);
    batch.PutData(command);
}

// A written batch: action, header and commands in ascending key order (of a key given twice
// the first wins), each command's fields in order, and each value class's datum in a kind and
// width of its own; read back, each command comes as the class of its type with its datum.
TEST(ConfigBatch, WrittenBatchHasTheHostsLayoutAndEachClassItsDatum) {
    using B = CConfigBatchCommands;
    constexpr uint32_t kInt32 = MORRICK_FIELD_INT32, kUInt32 = MORRICK_FIELD_UINT32,
                       kBinary = MORRICK_FIELD_BINARY, kWString = MORRICK_FIELD_WSTRING;
    const struct {
        uint32_t (*add)(B&, uint32_t key);
        uint32_t valueType, kind;
        std::vector<uint8_t> bytes;
        std::u16string text;  // as the parsed value reads
    } cases[] = {  // in key order: 1, 2, ...
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, true); }, config::CVT_BOOL, kInt32, {1, 0, 0, 0}, u"1"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, static_cast<char>(-2)); }, config::CVT_CHAR, kBinary, {0xFE}, u"\u00fe"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, static_cast<unsigned char>(0xAB)); }, config::CVT_UCHAR, kBinary, {0xAB}, u"\u00ab"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, static_cast<short>(-2)); }, config::CVT_SHORT, kBinary, {0xFE, 0xFF}, u"-2"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, static_cast<unsigned short>(0x1234)); }, config::CVT_USHORT, kBinary, {0x34, 0x12}, u"4660"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, -5); }, config::CVT_INT, kInt32, {0xFB, 0xFF, 0xFF, 0xFF}, u"-5"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, 0x89ABCDEFu); }, config::CVT_UINT, kUInt32, {0xEF, 0xCD, 0xAB, 0x89}, u"2309737967"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, int64_t{-0x0102030405060708}); }, config::CVT_INT64, kBinary,
         {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}, u"-72623859790382856"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, uint64_t{0x0102030405060708}); }, config::CVT_UINT64, kBinary,
         {8, 7, 6, 5, 4, 3, 2, 1}, u"72623859790382856"},
        {[](B& b, uint32_t k) { return b.AddCommand(4, k, std::u16string(u"C:\\\u00e9")); }, config::CVT_WSTR, kWString,
         {'C', 0, ':', 0, '\\', 0, 0xE9, 0}, u"C:\\\u00e9"},
    };
    const uint32_t count = static_cast<uint32_t>(std::size(cases));
    B batch(2);
    for (uint32_t i = count; i > 0; --i) EXPECT_EQ(cases[i - 1].add(batch, i), kOk);
    EXPECT_EQ(batch.AddCommand(4, 1, false), kOk);  // the same key again: dropped
    VELK_DataHandleWrapper out;
    ASSERT_EQ(batch.Serialize(out), kOk);
    uint32_t name = 0, action = 0;
    out.GetNameId(name);
    out.GetUInt32At(0x70003, action);
    EXPECT_EQ(name, 0x70001u);
    EXPECT_EQ(action, 2u);
    std::string commands;
    for (uint32_t i = 0; i < count; ++i) commands += " 70002:5";
    EXPECT_EQ(FieldsOf(out), "70003:1 20515:5" + commands);
    const Nested header(out, 0x20515), texts(header.record, 0x10002);
    EXPECT_EQ(FieldsOf(header.record), "207d3:3 10002:5");
    EXPECT_EQ(FieldsOf(texts.record), "2076d:3 2076e:3 10001:5 10003:5");
    EXPECT_EQ(FieldsOf(Nested(texts.record, 0x10001).record), "20641:1 20640:4");
    EXPECT_EQ(FieldsOf(Nested(texts.record, 0x10003).record), "20899:1 2089a:1 2089b:1");
    const B parsed(out);
    for (uint32_t i = 0; i < count; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.valueType);
        const Nested command(out, 0x70002, i), value(command.record, 0x70005);
        EXPECT_EQ(FieldsOf(command.record), "70006:0 70004:1 70008:0 70007:0 70005:5");
        uint32_t type = 0, key = 0, status = 0, valueType = 0;
        command.record.GetUInt32At(0x70006, type);
        command.record.GetUInt32At(0x70004, key);
        command.record.GetUInt32At(0x70008, status);
        command.record.GetUInt32At(0x70007, valueType);
        EXPECT_EQ(type, 4u);
        EXPECT_EQ(key, i + 1);
        EXPECT_EQ(status, kOk);
        EXPECT_EQ(valueType, c.valueType);
        const std::string width = c.kind == kBinary || c.kind == kWString ? ":" + std::to_string(c.bytes.size()) : "";
        EXPECT_EQ(FieldsOf(value.record), "70005:" + std::to_string(c.kind) + width);
        EXPECT_EQ(DatumOf(value.record, c.kind), c.bytes);
        std::u16string text;
        EXPECT_EQ(parsed.GetValue(i + 1, text), kOk);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(parsed.Find(i + 1)->GetValueType(), c.valueType);
    }
}

// A host's reply is read by key with the host's status: a failed command's value and one without
// a status are not handed out; the first command of a repeated key wins; a value that does not
// fit, or a value type this system does not know, is refused.
TEST(ConfigBatch, ReplyIsReadByKeyWithItsStatus) {
    VELK_DataHandleWrapper reply(config::CFGMSG_BATCH, true);  // no action, no header
    AddReplyCommand(reply, kDbSize, 0xE0FF0005, config::CVT_INT, 99);
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_INT, 300);
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_INT, 1);
    AddReplyCommand(reply, kEnable, kOk, 12);
    AddReplyCommand(reply, kLogPath, 0, config::CVT_INT, 99);  // no status

    const CConfigBatchCommands parsed(reply);
    EXPECT_EQ(parsed.Action(), 0u);
    EXPECT_EQ(parsed.Header()->Number0, 0u);
    EXPECT_EQ(parsed.Header()->Text0[0], '\0');
    int size = 17;
    EXPECT_EQ(parsed.GetValue(kDbSize, size), 0xE0FF0005u) << "the host's status";
    EXPECT_EQ(parsed.GetValue(kLogPath, size), velk::kNotDone) << "no status: not done";
    EXPECT_EQ(size, 17);
    unsigned char small = 5;
    EXPECT_EQ(parsed.GetValue(kWorkMode, small), kRefused);
    EXPECT_EQ(small, 5);
    int mode = 0;
    EXPECT_EQ(parsed.GetValue(kWorkMode, mode), kOk);
    EXPECT_EQ(mode, 300) << "the first command of a repeated key wins";
    bool enable = false;
    EXPECT_EQ(parsed.GetValue(kEnable, enable), kRefused) << "no value of a known type";
    EXPECT_EQ(parsed.GetValue(0x1234, enable), kRefused) << "key not answered";
}

// Fields of the wrong kind or too long give defaults and cut texts; a command without key
// fields keeps its start values. Commands without value are written as empty records, which
// carry no key: read back, they are one valueless command of key 0, and Serialize reports them.
TEST(ConfigBatch, MalformedAndValuelessCommands) {
    VELK_DataHandleWrapper reply(config::CFGMSG_BATCH, true);
    reply.PutWString(config::CFGMSG_ACTION, u"two");  // wrong type
    VELK_DataHandleWrapper header(config::CFGMSG_HEADER, true), texts(0x10002, true), wide(0x10001, true);
    VELK_Msg_PutString(header.Handle(), 0x207D3, std::string(5000, 't').data(), 5000);
    wide.PutWString(0x20640, std::u16string(200, u'w'));
    wide.PutWString(0x20641, u"not a number");
    texts.PutData(wide);
    header.PutData(texts);
    reply.PutData(header);
    reply.PutData(VELK_DataHandleWrapper(config::CFGMSG_COMMAND, true));
    AddReplyCommand(reply, kDbSize, kOk, config::CVT_INT, 9);
    AddReplyCommand(reply, kWorkMode, kOk, 99);  // no such value type: no value

    const CConfigBatchCommands parsed(reply);
    EXPECT_EQ(parsed.Action(), 0u);
    EXPECT_EQ(std::string(parsed.Header()->Text0), std::string(36, 't'));
    EXPECT_EQ(std::u16string(parsed.Header()->WideText), std::u16string(127, u'w'));
    EXPECT_EQ(parsed.Header()->Number0, 0u);
    ASSERT_EQ(parsed.CommandCount(), 3u);
    ASSERT_NE(parsed.Find(0), nullptr);
    EXPECT_EQ(parsed.Find(0)->GetStatus(), 0xE0FF0001u);
    int value = 3;
    EXPECT_EQ(parsed.GetValue(0, value), kRefused);

    VELK_DataHandleWrapper out;
    EXPECT_EQ(parsed.Serialize(out), kRefused);
    uint32_t written = 0;
    out.GetSizeOf(config::CFGMSG_COMMAND, written);
    EXPECT_EQ(written, 3u);
    const CConfigBatchCommands reparsed(out);
    std::vector<uint32_t> keys;
    reparsed.ForEachCommand([&](const config::IConfigCommand& c) { keys.push_back(c.GetNameId()); });
    EXPECT_EQ(keys, (std::vector<uint32_t>{0, kDbSize}));
    EXPECT_EQ(reparsed.Find(0)->GetValueType(), config::CVT_NONE);
    EXPECT_EQ(reparsed.GetValue(kDbSize, value), kOk);
    EXPECT_EQ(value, 9);
}

class CountingHandler final : public config::IConfigCommandHandler {
public:
    uint32_t HandleType1(config::IConfigCommand&) override { return Seen(1); }
    uint32_t HandleType2(config::IConfigCommand&) override { return Seen(2); }
    uint32_t HandleType3(config::IConfigCommand&) override { return Seen(3); }
    uint32_t HandleType4(config::IConfigCommand&) override { return Seen(4); }
    uint32_t HandleType5(config::IConfigCommand&) override { return Seen(5); }
    uint32_t HandleType6(config::IConfigCommand&) override { return Seen(6); }
    std::vector<int> seen;

private:
    uint32_t Seen(int type) {
        seen.push_back(type);
        return 0x20FF0000u + static_cast<uint32_t>(type);
    }
};

// A command's value converts into its first type; its status gates reading; it dispatches by
// its command type, and without value or handler it is refused with its status unchanged.
TEST(ConfigCommand, ValueStatusAndDispatch) {
    config::CConfigCommand first(4, kDbSize);
    EXPECT_EQ(first.SetValue(5), kOk);
    EXPECT_EQ(first.SetValue(std::u16string(u"1024")), kOk);
    EXPECT_EQ(first.SetValue(std::u16string(u"lots")), kRefused);
    int value = 0;
    EXPECT_EQ(first.GetValue(value), kOk);
    EXPECT_EQ(value, 1024);
    EXPECT_EQ(first.GetValueType(), config::CVT_INT);
    first.SetStatus(0xE0FF0005);
    EXPECT_EQ(first.GetValue(value), 0xE0FF0005u);

    CountingHandler handler;
    for (uint32_t type = 1; type <= 7; ++type) {
        config::CConfigCommand command(type, kDbSize);
        command.SetValue(1);
        const uint32_t expected = type <= 6 ? 0x20FF0000u + type : 0xE0FF0001u;
        EXPECT_EQ(command.Dispatch(&handler), expected) << type;
        EXPECT_EQ(command.GetStatus(), expected) << type;
    }
    EXPECT_EQ(handler.seen, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    config::CConfigCommand valueless(1, kDbSize);
    EXPECT_EQ(valueless.Dispatch(&handler), kRefused);
    EXPECT_EQ(valueless.GetStatus(), kOk) << "status unchanged";
    EXPECT_EQ(first.Dispatch(nullptr), kRefused);
}

}  // namespace
