// Configuration values, every class set from and read as every type against an oracle that
// parses text itself in 128-bit arithmetic; batches through the reference message library: the
// wire form a host reads, replies by key and status, malformed replies, commands and dispatch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "config/config_batch.h"
#include "config/config_value.h"
#include "host/result_codes.h"
#include "reference/morrick/morrick_inspection.h"

namespace {

constexpr uint32_t kOk = velk::kSuccess;
constexpr uint32_t kRefused = velk::kBadArgument;

using config::ConfigValueTypeOf;
__extension__ typedef __int128 Wide;
using Text = std::u16string;

// A record's name id, and the 32-bit fields of these names in it.
uint32_t NameOf(const VELK_DataHandleWrapper& record) {
    uint32_t name = 0;
    return record.GetNameId(name), name;
}
std::vector<uint32_t> NumbersOf(const VELK_DataHandleWrapper& record, std::initializer_list<uint32_t> names) {
    std::vector<uint32_t> numbers;
    for (uint32_t name : names) record.GetUInt32At(name, numbers.emplace_back());
    return numbers;
}

// The ten scalar types a value is set from and read as; f is called with a value of each.
using Types = std::tuple<char, short, int, int64_t, unsigned char, unsigned short, unsigned int, uint64_t,
                         bool, Text>;
template <typename F>
void ForEachType(F&& f) {
    std::apply([&f](auto... values) { (f(values), ...); }, Types{});
}
template <typename T>
constexpr bool kIsText = std::is_same_v<T, Text>;
template <typename T>
constexpr bool kIsByte = std::is_same_v<T, char> || std::is_same_v<T, unsigned char>;

// A datum as the oracle holds it: a number, or a text.
struct Datum {
    Wide number = 0;
    Text text;
    bool operator==(const Datum& other) const { return number == other.number && text == other.text; }
};
template <typename T>
Datum DatumOf(const T& value) {
    if constexpr (kIsText<T>) return {0, value};
    else return {static_cast<Wide>(value), {}};
}
std::ostream& operator<<(std::ostream& out, const Datum& d) {
    return out << static_cast<long long>(d.number) << " / \"" << std::string(d.text.begin(), d.text.end()) << "\"";
}

template <typename T>
bool Fits(Wide value) {
    return value >= static_cast<Wide>(std::numeric_limits<T>::min()) &&
           value <= static_cast<Wide>(std::numeric_limits<T>::max());
}

template <typename T>
std::vector<T> Samples() {
    if constexpr (kIsText<T>) {
        return {u"300", u"-1", u"0", u"5", u"letters", u"", u" 1", u"1 ", u"+7", u"127", u"-128",
                u"65535", u"65536", u"18446744073709551615", u"18446744073709551616",
                u"9223372036854775808", u"-9223372036854775808", u"-2147483648", u"2147483648",
                u"\u0661", u"0001", u"+1", u"-0", u"00", u"+-1", u"2", u"true", u"0x10", u"-"};
    } else if constexpr (std::is_same_v<T, bool>) {
        return {false, true};
    } else {
        using L = std::numeric_limits<T>;
        std::vector<T> values;
        for (Wide candidate : {static_cast<Wide>(L::min()), static_cast<Wide>(L::min()) + 1, Wide{-1},
                               Wide{0}, Wide{1}, Wide{65}, Wide{127}, Wide{128}, Wide{255}, Wide{256},
                               Wide{65535}, Wide{65536}, static_cast<Wide>(L::max()) - 1,
                               static_cast<Wide>(L::max())}) {
            if (Fits<T>(candidate)) values.push_back(static_cast<T>(candidate));
        }
        return values;
    }
}

Text Decimal(Wide value) {  // every sample lies within the 64-bit types' ranges
    const std::string digits = value < 0 ? std::to_string(static_cast<int64_t>(value))
                                         : std::to_string(static_cast<uint64_t>(value));
    return Text(digits.begin(), digits.end());
}

// The text of a number held as T: a byte is its one character, every other type its decimal.
template <typename T>
Text TextOf(Wide value) {
    if constexpr (std::is_same_v<T, bool>) return value != 0 ? u"1" : u"0";
    else if constexpr (kIsByte<T>) return Text(1, static_cast<char16_t>(static_cast<unsigned char>(value)));
    else return Decimal(value);
}

// Text parsed into T: a sign and digits, nothing else; unsigned types take a minus sign as
// negation modulo their width; bool takes 0 and 1 only.
template <typename T>
std::optional<Wide> Parse(const Text& text) {
    size_t at = !text.empty() && (text[0] == u'+' || text[0] == u'-') ? 1 : 0;
    const bool negative = at == 1 && text[0] == u'-';
    if (at == text.size()) return std::nullopt;
    Wide magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < u'0' || text[at] > u'9') return std::nullopt;
        magnitude = magnitude * 10 + (text[at] - u'0');
        if (magnitude > (static_cast<Wide>(1) << 65)) return std::nullopt;
    }
    if constexpr (std::is_signed_v<T> || std::is_same_v<T, bool>) {  // bool: 0 or 1, as its limits say
        const Wide value = negative ? -magnitude : magnitude;
        return Fits<T>(value) ? std::optional<Wide>(value) : std::nullopt;
    } else {
        if (!Fits<T>(magnitude)) return std::nullopt;
        const Wide modulus = static_cast<Wide>(1) << (8 * sizeof(T));
        return negative && magnitude != 0 ? modulus - magnitude : magnitude;
    }
}

// What a value of class S holds once set from `given`; nothing when the set is refused.
template <typename S, typename G>
std::optional<Datum> AfterSet(const G& given) {
    if constexpr (kIsText<S>) {
        Text text;
        if constexpr (kIsText<G>) text = given;
        else text = TextOf<G>(static_cast<Wide>(given));
        return Datum{0, text.substr(0, text.find(u'\0'))};  // a text is read to its terminator
    } else if constexpr (kIsText<G>) {
        if (kIsByte<S>) return std::nullopt;  // a single byte is never set from text
        const std::optional<Wide> parsed = Parse<S>(given);
        return parsed ? std::optional<Datum>(Datum{*parsed, {}}) : std::nullopt;
    } else if constexpr (std::is_same_v<S, bool>) {
        return Datum{given != 0 ? 1 : 0, {}};
    } else {
        return Fits<S>(static_cast<Wide>(given)) ? std::optional<Datum>(DatumOf(given)) : std::nullopt;
    }
}

// What a value of class S holding `held` reads as R; nothing when the read is refused. Text is
// parsed as a 64-bit number of R's signedness (bool: signed), then range-tested.
template <typename S, typename R>
std::optional<Datum> ReadAs(const Datum& held) {
    if constexpr (kIsText<S> && kIsText<R>) {
        return held;
    } else if constexpr (kIsText<S>) {
        const auto parsed = std::is_unsigned_v<R> && !std::is_same_v<R, bool> ? Parse<uint64_t>(held.text)
                                                                             : Parse<int64_t>(held.text);
        if (!parsed) return std::nullopt;
        if (std::is_same_v<R, bool>) return Datum{*parsed != 0 ? 1 : 0, {}};
        return Fits<R>(*parsed) ? std::optional<Datum>(Datum{*parsed, {}}) : std::nullopt;
    } else if constexpr (kIsText<R>) {
        return Datum{0, TextOf<S>(held.number)};
    } else if constexpr (std::is_same_v<R, bool>) {
        return Datum{held.number != 0 ? 1 : 0, {}};
    } else {
        return Fits<R>(held.number) ? std::optional<Datum>(held) : std::nullopt;
    }
}

template <typename T>
T Marker() {  // what a caller's variable holds before a read; a refusal must leave it
    if constexpr (kIsText<T>) return u"kept";
    else if constexpr (std::is_same_v<T, bool>) return true;
    else return static_cast<T>(42);
}

TEST(ConfigValue, EveryClassIsSetFromAndReadAsEveryType) {
    ForEachType([](auto stored) {
        using S = decltype(stored);
        ForEachType([](auto given) {
            using G = decltype(given);
            for (const G& value : Samples<G>()) {
                SCOPED_TRACE(testing::Message() << "class " << ConfigValueTypeOf<S>() << " set from type "
                                                << ConfigValueTypeOf<G>() << " " << DatumOf(value));
                const auto held = config::CreateEmptyConfigValue(ConfigValueTypeOf<S>());
                ASSERT_EQ(held->SetValue(Marker<S>()), kOk);
                const std::optional<Datum> set = AfterSet<S>(value);
                EXPECT_EQ(held->SetValue(value), set ? kOk : kRefused);
                const Datum now = set ? *set : *AfterSet<S>(Marker<S>());  // a refusal keeps the datum
                ForEachType([&](auto requested) {
                    using R = decltype(requested);
                    R out = Marker<R>();
                    const std::optional<Datum> read = ReadAs<S, R>(now);
                    EXPECT_EQ(held->GetValue(out), read ? kOk : kRefused) << "read as " << ConfigValueTypeOf<R>();
                    EXPECT_EQ(DatumOf(out), read ? *read : DatumOf(Marker<R>())) << "read as " << ConfigValueTypeOf<R>();
                });
                VELK_DataHandleWrapper record;
                EXPECT_EQ(held->GetValue(record), kRefused);
                EXPECT_EQ(held->SetValue(record), kRefused);
            }
        });
    });
}

// Only the record class holds records, through its wire form too; a type without its datum reads
// as zero. (Each scalar class's wire form and parsing, and the refusal of a command without a type
// this system knows, are checked with the batches below.)
TEST(ConfigValue, RecordClassHoldsRecordsOnlyAndATypeWithoutItsDatumReadsZero) {
    VELK_DataHandleWrapper nested(0x1028B, true);
    nested.PutUInt32(0x20001, 9);
    const auto complex = config::CreateEmptyConfigValue(config::CVT_COMPLEX);
    ASSERT_EQ(complex->SetValue(nested), kOk);
    VELK_DataHandleWrapper command(0x70002, true);
    ASSERT_EQ(complex->Serialize(command), kOk);
    for (const auto& value : {complex, config::CreateConfigValue(command)}) {
        ASSERT_TRUE(value);
        VELK_DataHandleWrapper out;
        EXPECT_EQ(value->GetValue(out), kOk);
        EXPECT_EQ(NameOf(out), 0x1028Bu);
        EXPECT_EQ(NumbersOf(out, {0x20001}), std::vector<uint32_t>{9});
    }
    int number = 3;
    Text text = u"kept";
    EXPECT_EQ(complex->GetValue(number), kRefused);
    EXPECT_EQ(complex->GetValue(text), kRefused);
    EXPECT_EQ(complex->SetValue(number), kRefused);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(text, u"kept");
    VELK_DataHandleWrapper bare(0x70002, true);
    bare.PutInt32(config::CFGMSG_VALUE_TYPE, config::CVT_UINT);
    unsigned int zero = 7;
    EXPECT_EQ(config::CreateConfigValue(bare)->GetValue(zero), kOk);
    EXPECT_EQ(zero, 0u);
}

using config::CConfigBatchCommands;
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
std::vector<uint8_t> WireDatumOf(const VELK_DataHandleWrapper& value, uint32_t kind) {
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
    EXPECT_EQ(NameOf(out), 0x70001u);
    EXPECT_EQ(NumbersOf(out, {0x70003}), std::vector<uint32_t>{2}) << "the action";
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
        EXPECT_EQ(NumbersOf(command.record, {0x70006, 0x70004, 0x70008, 0x70007}),
                  (std::vector<uint32_t>{4, i + 1, kOk, c.valueType}));  // type, key, status, value type
        const std::string width = c.kind == kBinary || c.kind == kWString ? ":" + std::to_string(c.bytes.size()) : "";
        EXPECT_EQ(FieldsOf(value.record), "70005:" + std::to_string(c.kind) + width);
        EXPECT_EQ(WireDatumOf(value.record, c.kind), c.bytes);
        std::u16string text;
        EXPECT_EQ(parsed.GetValue(i + 1, text), kOk);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(parsed.Find(i + 1)->GetValueType(), c.valueType);
    }
}

// A host's reply is read by key with the host's status: a failed command's value and one without
// a status are not handed out; the first command of a repeated key wins; a value that does not
// fit, or a value type this system does not know, is refused. Fields of the wrong kind or too
// long give defaults and cut texts; a missing action or header reads as zero. Commands without
// value are written as empty records, which carry no key: read back, they are one valueless
// command of key 0, and Serialize reports them.
TEST(ConfigBatch, ReplyIsReadByKeyWithItsStatusAndMalformedPartsGiveDefaults) {
    const CConfigBatchCommands bare(VELK_DataHandleWrapper(config::CFGMSG_BATCH, true));
    EXPECT_EQ(bare.Action() + bare.Header()->Number0 + static_cast<uint32_t>(bare.Header()->Text0[0]), 0u);
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
    AddReplyCommand(reply, kDbSize, 0xE0FF0005, config::CVT_INT, 99);
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_INT, 300);
    AddReplyCommand(reply, kWorkMode, kOk, config::CVT_INT, 1);
    AddReplyCommand(reply, kEnable, kOk, 12);  // no such value type: no value
    AddReplyCommand(reply, kLogPath, 0, config::CVT_INT, 99);  // no status

    const CConfigBatchCommands parsed(reply);
    EXPECT_EQ(parsed.Action(), 0u);
    EXPECT_EQ(std::string(parsed.Header()->Text0), std::string(36, 't'));
    EXPECT_EQ(std::u16string(parsed.Header()->WideText), std::u16string(127, u'w'));
    EXPECT_EQ(parsed.Header()->Number0, 0u);
    ASSERT_EQ(parsed.CommandCount(), 5u);
    int size = 17;
    EXPECT_EQ(parsed.GetValue(kDbSize, size), 0xE0FF0005u) << "the host's status";
    EXPECT_EQ(parsed.GetValue(kLogPath, size), velk::kNotDone) << "no status: not done";
    EXPECT_EQ(parsed.GetValue(0, size), kRefused) << "an empty record";
    EXPECT_EQ(size, 17);
    EXPECT_EQ(parsed.Find(0)->GetStatus(), 0xE0FF0001u);
    unsigned char small = 5;
    EXPECT_EQ(parsed.GetValue(kWorkMode, small), kRefused);
    EXPECT_EQ(small, 5);
    int mode = 0;
    EXPECT_EQ(parsed.GetValue(kWorkMode, mode), kOk);
    EXPECT_EQ(mode, 300) << "the first command of a repeated key wins";
    bool enable = false;
    EXPECT_EQ(parsed.GetValue(kEnable, enable), kRefused) << "no value of a known type";
    EXPECT_EQ(parsed.GetValue(0x1234, enable), kRefused) << "key not answered";

    VELK_DataHandleWrapper out;
    EXPECT_EQ(parsed.Serialize(out), kRefused);
    uint32_t written = 0;
    out.GetSizeOf(config::CFGMSG_COMMAND, written);
    EXPECT_EQ(written, 5u);
    const CConfigBatchCommands reparsed(out);
    std::vector<uint32_t> keys;
    reparsed.ForEachCommand([&](const config::IConfigCommand& c) { keys.push_back(c.GetNameId()); });
    EXPECT_EQ(keys, (std::vector<uint32_t>{0, kLogPath, kDbSize, kWorkMode}));
    EXPECT_EQ(reparsed.Find(0)->GetValueType(), config::CVT_NONE);
    EXPECT_EQ(reparsed.GetValue(kWorkMode, mode), kOk);
    EXPECT_EQ(mode, 300);
}

class CountingHandler final : public config::IConfigCommandHandler {
public:
    uint32_t HandleType1(config::IConfigCommand&) override { return Seen(1); }
    uint32_t HandleType2(config::IConfigCommand&) override { return Seen(2); }
    uint32_t HandleType3(config::IConfigCommand&) override { return Seen(3); }
    uint32_t HandleType4(config::IConfigCommand&) override { return Seen(4); }
    uint32_t HandleType5(config::IConfigCommand&) override { return Seen(5); }
    uint32_t HandleType6(config::IConfigCommand&) override { return Seen(6); }
    uint32_t Seen(int type) { return seen.push_back(type), 0x20FF0000u + static_cast<uint32_t>(type); }
    std::vector<int> seen;
};

// A command's value converts into its first type (its status gates reading: the batch reply); it
// dispatches by its command type, and without value or handler it is refused with its status
// unchanged.
TEST(ConfigCommand, ValueStatusAndDispatch) {
    config::CConfigCommand first(4, kDbSize);
    EXPECT_EQ(first.SetValue(5), kOk);
    EXPECT_EQ(first.SetValue(std::u16string(u"1024")), kOk);
    EXPECT_EQ(first.SetValue(std::u16string(u"lots")), kRefused);
    int value = 0;
    EXPECT_EQ(first.GetValue(value), kOk);
    EXPECT_EQ(value, 1024);
    EXPECT_EQ(first.GetValueType(), config::CVT_INT);

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
