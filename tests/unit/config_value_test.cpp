// Configuration values: every stored class against every requested type, at the boundary
// values of each integer type, checked against an oracle that works in 128-bit arithmetic
// (not through Boost); then the text parsing rules and the record values.
#include "config/config_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "host/result_codes.h"

namespace {

using config::CConfigValue;
using config::ConfigValueTypeOf;
__extension__ typedef __int128 Wide;

constexpr uint32_t kOk = velk::kSuccess;
constexpr uint32_t kRefused = velk::kBadArgument;

template <typename T>
struct TypeTag {
    using type = T;
};
template <typename F>
void ForEachInteger(F&& f) {
    f(TypeTag<char>{}), f(TypeTag<short>{}), f(TypeTag<int>{}), f(TypeTag<int64_t>{});
    f(TypeTag<unsigned char>{}), f(TypeTag<unsigned short>{}), f(TypeTag<unsigned int>{});
    f(TypeTag<uint64_t>{});
}

template <typename T>
bool Fits(Wide value) {
    return value >= static_cast<Wide>(std::numeric_limits<T>::min()) &&
           value <= static_cast<Wide>(std::numeric_limits<T>::max());
}

template <typename T>
std::vector<T> Boundaries() {
    using L = std::numeric_limits<T>;
    std::vector<Wide> candidates = {static_cast<Wide>(L::min()), static_cast<Wide>(L::min()) + 1,
                                    -1, 0, 1, 127, 128, 255, 256, 65535, 65536,
                                    static_cast<Wide>(L::max()) - 1, static_cast<Wide>(L::max())};
    std::vector<T> values;
    for (Wide candidate : candidates) {
        if (Fits<T>(candidate)) values.push_back(static_cast<T>(candidate));
    }
    return values;
}

std::u16string Decimal(Wide value) {
    if (value == 0) return u"0";
    const bool negative = value < 0;
    std::u16string digits;
    for (Wide rest = negative ? -value : value; rest != 0; rest /= 10) {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(rest % 10)));
    }
    return negative ? u"-" + digits : digits;
}

template <typename S>
std::u16string ExpectedText(S value) {
    if constexpr (std::is_same_v<S, char> || std::is_same_v<S, unsigned char>) {
        return std::u16string(1, static_cast<char16_t>(static_cast<unsigned char>(value)));
    } else {
        return Decimal(value);
    }
}

template <typename S>
boost::shared_ptr<CConfigValue> Holding(S value) {
    boost::shared_ptr<CConfigValue> made = config::CreateEmptyConfigValue(ConfigValueTypeOf<S>());
    EXPECT_EQ(made->SetValue(value), kOk);
    return made;
}

TEST(ConfigValueMap, IntegerClassesReadAsEveryType) {
    ForEachInteger([](auto stored) {
        using S = typename decltype(stored)::type;
        for (S value : Boundaries<S>()) {
            const auto held = Holding(value);
            const std::string where = "stored " + std::to_string(ConfigValueTypeOf<S>()) + " = " +
                                      std::to_string(static_cast<long long>(value));
            ForEachInteger([&](auto requested) {
                using R = typename decltype(requested)::type;
                R out = static_cast<R>(42);
                const uint32_t result = held->GetValue(out);
                if (Fits<R>(static_cast<Wide>(value))) {
                    EXPECT_EQ(result, kOk) << where;
                    EXPECT_EQ(static_cast<Wide>(out), static_cast<Wide>(value)) << where;
                } else {
                    EXPECT_EQ(result, kRefused) << where;
                    EXPECT_EQ(out, static_cast<R>(42)) << where << ": caller's variable kept";
                }
            });
            bool flag = value == 0;
            EXPECT_EQ(held->GetValue(flag), kOk) << where;
            EXPECT_EQ(flag, value != 0) << where;
            std::u16string text;
            EXPECT_EQ(held->GetValue(text), kOk) << where;
            EXPECT_EQ(text, ExpectedText(value)) << where;
            VELK_DataHandleWrapper record;
            EXPECT_EQ(held->GetValue(record), kRefused) << where;
        }
    });
}

TEST(ConfigValueMap, IntegerClassesAreSetFromEveryType) {
    ForEachInteger([](auto stored) {
        using S = typename decltype(stored)::type;
        ForEachInteger([](auto given) {
            using R = typename decltype(given)::type;
            for (R value : Boundaries<R>()) {
                const auto held = Holding(static_cast<S>(7));
                const uint32_t result = held->SetValue(value);
                S back = 0;
                held->GetValue(back);
                const std::string where = "class " + std::to_string(ConfigValueTypeOf<S>()) +
                                          " set from " + std::to_string(static_cast<long long>(value));
                if (Fits<S>(static_cast<Wide>(value))) {
                    EXPECT_EQ(result, kOk) << where;
                    EXPECT_EQ(static_cast<Wide>(back), static_cast<Wide>(value)) << where;
                } else {
                    EXPECT_EQ(result, kRefused) << where;
                    EXPECT_EQ(back, static_cast<S>(7)) << where << ": datum kept";
                }
            }
        });
        const auto held = Holding(static_cast<S>(7));
        EXPECT_EQ(held->SetValue(true), kOk);
        S back = 0;
        held->GetValue(back);
        EXPECT_EQ(back, static_cast<S>(1));
        EXPECT_EQ(held->SetValue(false), kOk);
        held->GetValue(back);
        EXPECT_EQ(back, static_cast<S>(0));
        VELK_DataHandleWrapper record;
        EXPECT_EQ(held->SetValue(record), kRefused);
    });
}

// The parse that the wide-string class applies, done independently: sign and digits only;
// signed reads parse into int64, unsigned reads into uint64 with a minus sign negating modulo
// 2^64; the result then goes through the range test.
struct Parsed {
    bool ok;
    Wide value;
};
Parsed ParseOracle(const std::u16string& text, bool asSigned) {
    size_t at = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        at = 1;
    }
    if (at == text.size()) return {false, 0};
    Wide magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < u'0' || text[at] > u'9') return {false, 0};
        magnitude = magnitude * 10 + (text[at] - u'0');
        if (magnitude > (static_cast<Wide>(1) << 65)) return {false, 0};
    }
    if (asSigned) {
        const Wide value = negative ? -magnitude : magnitude;
        return {Fits<int64_t>(value), value};
    }
    if (magnitude > static_cast<Wide>(std::numeric_limits<uint64_t>::max())) return {false, 0};
    const Wide modulus = static_cast<Wide>(1) << 64;
    return {true, negative && magnitude != 0 ? modulus - magnitude : magnitude};
}

TEST(ConfigValueMap, TextClassReadsAsEveryType) {
    const std::u16string texts[] = {u"300", u"-1", u"0", u"5", u"letters", u"", u" 1", u"+7",
                                    u"127", u"-128", u"65536", u"18446744073709551615",
                                    u"9223372036854775808", u"-9223372036854775808",
                                    u"\u0661"};
    for (const std::u16string& text : texts) {
        const auto held = Holding(text);
        ForEachInteger([&](auto requested) {
            using R = typename decltype(requested)::type;
            const Parsed parsed = ParseOracle(text, std::is_signed_v<R>);
            R out = static_cast<R>(42);
            const uint32_t result = held->GetValue(out);
            if (parsed.ok && Fits<R>(parsed.value)) {
                EXPECT_EQ(result, kOk);
                EXPECT_EQ(static_cast<Wide>(out), parsed.value);
            } else {
                EXPECT_EQ(result, kRefused);
                EXPECT_EQ(out, static_cast<R>(42));
            }
        });
        const Parsed asBool = ParseOracle(text, true);
        bool flag = false;
        EXPECT_EQ(held->GetValue(flag), asBool.ok ? kOk : kRefused);
        if (asBool.ok) {
            EXPECT_EQ(flag, asBool.value != 0);
        }
        std::u16string back;
        EXPECT_EQ(held->GetValue(back), kOk);
        EXPECT_EQ(back, text);
    }
}

TEST(ConfigValueMap, TextClassIsSetFromEveryType) {
    ForEachInteger([](auto given) {
        using R = typename decltype(given)::type;
        for (R value : Boundaries<R>()) {
            const auto held = Holding(std::u16string(u"old"));
            EXPECT_EQ(held->SetValue(value), kOk);
            std::u16string text;
            held->GetValue(text);
            // Texts are read up to their first terminator: the byte 0 reads back empty.
            const std::u16string expected = ExpectedText(value);
            EXPECT_EQ(text, expected.substr(0, expected.find(u'\0')));
        }
    });
    const auto held = Holding(std::u16string(u"old"));
    std::u16string text;
    EXPECT_EQ(held->SetValue(static_cast<char>(0x41)), kOk);
    held->GetValue(text);
    EXPECT_EQ(text, u"A");
    EXPECT_EQ(held->SetValue(true), kOk);
    held->GetValue(text);
    EXPECT_EQ(text, u"1");
}

TEST(ConfigValueMap, BoolClassReadsAndIsSetAsEveryType) {
    for (bool stored : {false, true}) {
        const auto held = Holding(stored);
        ForEachInteger([&](auto requested) {
            using R = typename decltype(requested)::type;
            R out = static_cast<R>(42);
            EXPECT_EQ(held->GetValue(out), kOk);
            EXPECT_EQ(out, static_cast<R>(stored ? 1 : 0));
        });
        std::u16string text;
        EXPECT_EQ(held->GetValue(text), kOk);
        EXPECT_EQ(text, stored ? u"1" : u"0");
    }
    ForEachInteger([](auto given) {
        using R = typename decltype(given)::type;
        for (R value : Boundaries<R>()) {
            const auto held = Holding(value == 0);
            EXPECT_EQ(held->SetValue(value), kOk);
            bool flag = value == 0;
            held->GetValue(flag);
            EXPECT_EQ(flag, value != 0);
        }
    });
}

TEST(ConfigValueText, BoolFromText) {
    const struct {
        std::u16string text;
        uint32_t result;
        bool value;
    } cases[] = {
        {u"0001", kOk, true}, {u"+1", kOk, true},       {u"-0", kOk, false},
        {u"1", kOk, true},    {u"0", kOk, false},       {u"00", kOk, false},
        {u"-1", kRefused, false},    {u"2", kRefused, false},         {u"true", kRefused, false},
        {u"", kRefused, false},      {u"+-1", kRefused, false},       {u" 1", kRefused, false},
    };
    for (const auto& c : cases) {
        const auto held = Holding(!c.value);  // anything a refusal must leave alone
        EXPECT_EQ(held->SetValue(c.text), c.result);
        bool flag = false;
        held->GetValue(flag);
        EXPECT_EQ(flag, c.result == kOk ? c.value : !c.value);
    }
}

TEST(ConfigValueText, IntegersFromText) {
    unsigned short small = 0;
    auto held = Holding(static_cast<unsigned short>(9));
    EXPECT_EQ(held->SetValue(std::u16string(u"-1")), kOk);
    held->GetValue(small);
    EXPECT_EQ(small, 65535);
    for (const char16_t* bad : {u"65536", u"", u" 1", u"1 ", u"0x10", u"\u0661"}) {
        EXPECT_EQ(held->SetValue(std::u16string(bad)), kRefused);
        held->GetValue(small);
        EXPECT_EQ(small, 65535) << "datum kept";
    }
    held = Holding(5);
    EXPECT_EQ(held->SetValue(std::u16string(u"-2147483648")), kOk);
    int number = 0;
    held->GetValue(number);
    EXPECT_EQ(number, std::numeric_limits<int>::min());
    EXPECT_EQ(held->SetValue(std::u16string(u"2147483648")), kRefused);
    EXPECT_EQ(held->SetValue(std::u16string(u"abc")), kRefused);
    held->GetValue(number);
    EXPECT_EQ(number, std::numeric_limits<int>::min());
    // A single byte is never set from text, though it reads as one.
    held = Holding(static_cast<unsigned char>(0x37));
    EXPECT_EQ(held->SetValue(std::u16string(u"7")), kRefused);
    std::u16string text;
    held->GetValue(text);
    EXPECT_EQ(text, u"7");
    EXPECT_EQ(Holding(static_cast<char>(5))->SetValue(std::u16string(u"5")), kRefused);
    // Bytes above 0x7F widen to their own code on every platform.
    Holding(static_cast<unsigned char>(0xE9))->GetValue(text);
    EXPECT_EQ(text, u"\u00e9");
}

TEST(ConfigValueRecord, OnlyTheComplexClassHoldsRecords) {
    VELK_DataHandleWrapper nested(0x1028B, true);
    nested.PutUInt32(0x20001, 9);
    const auto complex = config::CreateEmptyConfigValue(config::CVT_COMPLEX);
    ASSERT_EQ(complex->SetValue(nested), kOk);
    VELK_DataHandleWrapper out;
    EXPECT_EQ(complex->GetValue(out), kOk);
    uint32_t name = 0, field = 0;
    out.GetNameId(name);
    out.GetUInt32At(0x20001, field);
    EXPECT_EQ(name, 0x1028Bu);
    EXPECT_EQ(field, 9u);
    int number = 3;
    std::u16string text = u"kept";
    EXPECT_EQ(complex->GetValue(number), kRefused);
    EXPECT_EQ(complex->GetValue(text), kRefused);
    EXPECT_EQ(complex->SetValue(number), kRefused);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(text, u"kept");
}

TEST(ConfigValueFactory, BuildsTheClassOfTheTag) {
    for (uint32_t tag = 1; tag <= 11; ++tag) {
        const auto value = config::CreateEmptyConfigValue(tag);
        ASSERT_TRUE(value) << tag;
        VELK_DataHandleWrapper command(0x70002, true);
        EXPECT_EQ(value->Serialize(command), kOk);
        const auto parsed = config::CreateConfigValue(command);
        ASSERT_TRUE(parsed) << tag;
        EXPECT_EQ(parsed->GetType(), tag);
    }
    for (int32_t bad : {0, 12, -1}) {
        VELK_DataHandleWrapper command(0x70002, true);
        command.PutInt32(config::CFGMSG_VALUE_TYPE, bad);
        EXPECT_FALSE(config::CreateConfigValue(command)) << bad;
    }
    VELK_DataHandleWrapper untyped(0x70002, true);
    EXPECT_FALSE(config::CreateConfigValue(untyped));
}

TEST(ConfigValueFactory, ParsedValuesCarryTheirDatum) {
    VELK_DataHandleWrapper command(0x70002, true);
    Holding(static_cast<int64_t>(-5000000000))->Serialize(command);
    const auto parsed = config::CreateConfigValue(command);
    int64_t back = 0;
    EXPECT_EQ(parsed->GetValue(back), kOk);
    EXPECT_EQ(back, -5000000000);

    // A value record without its datum reads as zero, false or empty text.
    VELK_DataHandleWrapper bare(0x70002, true);
    bare.PutInt32(config::CFGMSG_VALUE_TYPE, config::CVT_UINT);
    const auto empty = config::CreateConfigValue(bare);
    unsigned int number = 7;
    EXPECT_EQ(empty->GetValue(number), kOk);
    EXPECT_EQ(number, 0u);
}

}  // namespace
