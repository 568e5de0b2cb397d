// Configuration batches through the reference message library: round trips, replies as a host
// builds them, and the reading rules by key and status (the wire format as written is in
// config_wire_test.cpp).
#include "config/config_batch.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/result_codes.h"

namespace {

using config::CConfigBatchCommands;
constexpr uint32_t kOk = velk::kSuccess;
constexpr uint32_t kRefused = velk::kBadArgument;

constexpr uint32_t kDbSize = 0x03670004;
constexpr uint32_t kLogPath = 0x03620002;
constexpr uint32_t kEnable = 0x03610009;
constexpr uint32_t kWorkMode = 0x0367000A;

// How many fields of the name a record holds.
uint32_t Count(const VELK_DataHandleWrapper& record, uint32_t nameId) {
    uint32_t count = 0;
    record.GetSizeOf(nameId, count);
    return count;
}

// A reply command record as a host writes it.
void AddReplyCommand(VELK_DataHandleWrapper& batch, uint32_t key, uint32_t status,
                     uint32_t valueType, const std::function<void(VELK_DataHandleWrapper&)>& datum) {
    VELK_DataHandleWrapper command(config::CFGMSG_COMMAND, true);
    command.PutInt32(config::CFGMSG_COMMAND_TYPE, 4);
    command.PutUInt32(config::CFGMSG_NAME_ID, key);
    command.PutInt32(config::CFGMSG_STATUS, static_cast<int32_t>(status));
    command.PutInt32(config::CFGMSG_VALUE_TYPE, static_cast<int32_t>(valueType));
    VELK_DataHandleWrapper value(config::CFGMSG_VALUE, true);
    if (datum) datum(value);
    command.PutData(value);
    batch.PutData(command);
}

TEST(ConfigBatch, RoundTripKeepsTypesValuesAndAction) {
    CConfigBatchCommands batch(2);
    batch.AddCommand(4, kEnable, false);
    batch.AddCommand(4, kDbSize, -5);
    batch.AddCommand(4, kWorkMode, 7u);
    batch.AddCommand(4, kLogPath, std::u16string(u"%velk_data_path%Log"));
    VELK_DataHandleWrapper out;
    ASSERT_EQ(batch.Serialize(out), kOk);

    const CConfigBatchCommands parsed(out);
    EXPECT_EQ(parsed.Action(), 2u);
    EXPECT_EQ(parsed.CommandCount(), 4u);
    bool enable = true;
    int size = 0;
    unsigned int mode = 0;
    std::u16string path;
    EXPECT_EQ(parsed.GetValue(kEnable, enable), kOk);
    EXPECT_EQ(parsed.GetValue(kDbSize, size), kOk);
    EXPECT_EQ(parsed.GetValue(kWorkMode, mode), kOk);
    EXPECT_EQ(parsed.GetValue(kLogPath, path), kOk);
    EXPECT_FALSE(enable);
    EXPECT_EQ(size, -5);
    EXPECT_EQ(mode, 7u);
    EXPECT_EQ(path, u"%velk_data_path%Log");
    EXPECT_EQ(parsed.Find(kDbSize)->GetValueType(), config::CVT_INT);
    EXPECT_EQ(parsed.Find(kDbSize)->GetCommandType(), 4u);
    EXPECT_EQ(parsed.Find(kDbSize)->GetStatus(), kOk);
}

// Commands that came without a value are written as empty records, which carry no key: read
// back, they are one valueless command of key 0, and the commands with values keep theirs.
TEST(ConfigBatch, ValuelessCommandsComeBackAsOneCommandOfKeyZero) {
    VELK_DataHandleWrapper reply(config::CFGMSG_BATCH, true);
    AddReplyCommand(reply, kDbSize, kOk, config::CVT_INT,
                    [](VELK_DataHandleWrapper& v) { v.PutInt32(config::CFGMSG_VALUE, 9); });
    AddReplyCommand(reply, kEnable, kOk, 99, nullptr);    // no such value type: no value
    AddReplyCommand(reply, kWorkMode, kOk, 0, nullptr);   // no value
    const CConfigBatchCommands parsed(reply);
    ASSERT_EQ(parsed.CommandCount(), 3u);

    VELK_DataHandleWrapper out;
    EXPECT_EQ(parsed.Serialize(out), kRefused);
    EXPECT_EQ(Count(out, config::CFGMSG_COMMAND), 3u);
    const CConfigBatchCommands reparsed(out);
    std::vector<uint32_t> keys;
    reparsed.ForEachCommand([&](const config::IConfigCommand& c) { keys.push_back(c.GetNameId()); });
    EXPECT_EQ(keys, (std::vector<uint32_t>{0, kDbSize}));
    EXPECT_EQ(reparsed.Find(0)->GetValueType(), config::CVT_NONE);
    int size = 0;
    EXPECT_EQ(reparsed.GetValue(kDbSize, size), kOk);
    EXPECT_EQ(size, 9);
}

TEST(ConfigBatch, ReplyIsReadByKeyWithItsStatus) {
    VELK_DataHandleWrapper reply(config::CFGMSG_BATCH, true);  // no action, no header
    AddReplyCommand(reply, kDbSize, 0xE0FF0005, config::CVT_INT,
                    [](VELK_DataHandleWrapper& v) { v.PutInt32(config::CFGMSG_VALUE, 99); });
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_UINT,
                    [](VELK_DataHandleWrapper& v) { v.PutUInt32(config::CFGMSG_VALUE, 300); });
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_UINT,
                    [](VELK_DataHandleWrapper& v) { v.PutUInt32(config::CFGMSG_VALUE, 1); });
    AddReplyCommand(reply, kEnable, kOk, 12, nullptr);  // a type this system does not know

    const CConfigBatchCommands parsed(reply);
    EXPECT_EQ(parsed.Action(), 0u);
    EXPECT_EQ(parsed.Header()->Number0, 0u);
    EXPECT_EQ(parsed.Header()->Text0[0], '\0');
    int size = 17;
    EXPECT_EQ(parsed.GetValue(kDbSize, size), 0xE0FF0005u) << "the host's status";
    EXPECT_EQ(size, 17);
    unsigned char small = 5;
    EXPECT_EQ(parsed.GetValue(kWorkMode, small), kRefused);
    EXPECT_EQ(small, 5);
    int mode = 0;
    EXPECT_EQ(parsed.GetValue(kWorkMode, mode), kOk);
    EXPECT_EQ(mode, 300) << "the first command of a repeated key wins";
    bool enable = false;
    EXPECT_EQ(parsed.GetValue(kEnable, enable), kRefused) << "no value of a known type";
    EXPECT_EQ(parsed.GetValue(kLogPath, enable), kRefused) << "key not answered";
}

TEST(ConfigBatch, MalformedRepliesParseToDefaults) {
    VELK_DataHandleWrapper reply(config::CFGMSG_BATCH, true);
    reply.PutWString(config::CFGMSG_ACTION, u"two");  // wrong type
    VELK_DataHandleWrapper header(config::CFGMSG_HEADER, true);
    VELK_Msg_PutString(header.Handle(), 0x207D3, std::string(5000, 't').data(), 5000);
    VELK_DataHandleWrapper texts(0x10002, true);
    VELK_DataHandleWrapper wide(0x10001, true);
    wide.PutWString(0x20640, std::u16string(200, u'w'));
    wide.PutWString(0x20641, u"not a number");
    texts.PutData(wide);
    header.PutData(texts);
    reply.PutData(header);
    VELK_DataHandleWrapper empty(config::CFGMSG_COMMAND, true);
    reply.PutData(empty);

    const CConfigBatchCommands parsed(reply);
    EXPECT_EQ(parsed.Action(), 0u);
    EXPECT_EQ(std::string(parsed.Header()->Text0), std::string(36, 't'));
    EXPECT_EQ(std::u16string(parsed.Header()->WideText), std::u16string(127, u'w'));
    EXPECT_EQ(parsed.Header()->Number0, 0u);
    ASSERT_NE(parsed.Find(0), nullptr) << "a command without key fields keeps its start values";
    EXPECT_EQ(parsed.Find(0)->GetStatus(), 0xE0FF0001u);
    int value = 3;
    EXPECT_EQ(parsed.GetValue(0, value), kRefused);

    // A batch holding a command without value reports it when serialised.
    VELK_DataHandleWrapper out;
    EXPECT_EQ(parsed.Serialize(out), kRefused);
    EXPECT_EQ(Count(out, config::CFGMSG_COMMAND), 1u);
}

TEST(ConfigCommand, SetValueConvertsIntoTheFirstType) {
    config::CConfigCommand command(4, kDbSize);
    EXPECT_EQ(command.SetValue(5), kOk);
    EXPECT_EQ(command.SetValue(std::u16string(u"1024")), kOk);
    EXPECT_EQ(command.SetValue(std::u16string(u"lots")), kRefused);
    int value = 0;
    EXPECT_EQ(command.GetValue(value), kOk);
    EXPECT_EQ(value, 1024);
    EXPECT_EQ(command.GetValueType(), config::CVT_INT);
    command.SetStatus(0xE0FF0005);
    EXPECT_EQ(command.GetValue(value), 0xE0FF0005u);
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

TEST(ConfigCommand, DispatchByCommandType) {
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
    config::CConfigCommand withValue(1, kDbSize);
    withValue.SetValue(1);
    EXPECT_EQ(withValue.Dispatch(nullptr), kRefused);
}

}  // namespace
