// Configuration values: every class set from and read as every type, against an oracle that
// works in 128-bit arithmetic and parses text itself (not through Boost); the record class and
// the factory's refusals.
#include "config/config_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/result_codes.h"

namespace {

using config::CConfigValue;
using config::ConfigValueTypeOf;
__extension__ typedef __int128 Wide;
using Text = std::u16string;

constexpr uint32_t kOk = velk::kSuccess;
constexpr uint32_t kRefused = velk::kBadArgument;

template <typename T>
struct TypeTag {
    using type = T;
};
template <typename F>
void ForEachType(F&& f) {  // the ten scalar types a value is set from and read as
    f(TypeTag<char>{}), f(TypeTag<short>{}), f(TypeTag<int>{}), f(TypeTag<int64_t>{});
    f(TypeTag<unsigned char>{}), f(TypeTag<unsigned short>{}), f(TypeTag<unsigned int>{});
    f(TypeTag<uint64_t>{}), f(TypeTag<bool>{}), f(TypeTag<Text>{});
}
template <typename T>
constexpr bool kIsText = std::is_same_v<T, Text>;
template <typename T>
constexpr bool kIsInteger = !kIsText<T> && !std::is_same_v<T, bool>;
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

Text Decimal(Wide value) {
    Text digits;
    for (Wide rest = value < 0 ? -value : value; rest != 0 || digits.empty(); rest /= 10) {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(rest % 10)));
    }
    return value < 0 ? u"-" + digits : digits;
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
    if constexpr (std::is_same_v<T, bool>) {
        const Wide value = negative ? -magnitude : magnitude;
        return value == 0 || value == 1 ? std::optional<Wide>(value) : std::nullopt;
    } else if constexpr (std::is_signed_v<T>) {
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
        if (!parsed) return std::nullopt;
        return Datum{*parsed, {}};
    } else if constexpr (std::is_same_v<S, bool>) {
        return Datum{given != 0 ? 1 : 0, {}};
    } else {
        if (!Fits<S>(static_cast<Wide>(given))) return std::nullopt;
        return Datum{static_cast<Wide>(given), {}};
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
        if (!Fits<R>(*parsed)) return std::nullopt;
        return Datum{*parsed, {}};
    } else if constexpr (kIsText<R>) {
        return Datum{0, TextOf<S>(held.number)};
    } else if constexpr (std::is_same_v<R, bool>) {
        return Datum{held.number != 0 ? 1 : 0, {}};
    } else {
        if (!Fits<R>(held.number)) return std::nullopt;
        return held;
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
        using S = typename decltype(stored)::type;
        ForEachType([](auto given) {
            using G = typename decltype(given)::type;
            for (const G& value : Samples<G>()) {
                SCOPED_TRACE(testing::Message() << "class " << ConfigValueTypeOf<S>() << " set from type "
                                                << ConfigValueTypeOf<G>() << " " << DatumOf(value));
                const auto held = config::CreateEmptyConfigValue(ConfigValueTypeOf<S>());
                ASSERT_EQ(held->SetValue(Marker<S>()), kOk);
                const std::optional<Datum> set = AfterSet<S>(value);
                EXPECT_EQ(held->SetValue(value), set ? kOk : kRefused);
                const Datum now = set ? *set : *AfterSet<S>(Marker<S>());  // a refusal keeps the datum
                ForEachType([&](auto requested) {
                    using R = typename decltype(requested)::type;
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

// Only the record class holds records, through its wire form too; the factory refuses a
// command without a type it knows, and a type without its datum reads as zero. (Each scalar
// class's wire form and parsing are checked in config_batch_test.cpp.)
TEST(ConfigValue, RecordClassHoldsRecordsOnlyAndTheFactoryNeedsAKnownType) {
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
        uint32_t name = 0, field = 0;
        out.GetNameId(name);
        out.GetUInt32At(0x20001, field);
        EXPECT_EQ(name, 0x1028Bu);
        EXPECT_EQ(field, 9u);
    }
    int number = 3;
    Text text = u"kept";
    EXPECT_EQ(complex->GetValue(number), kRefused);
    EXPECT_EQ(complex->GetValue(text), kRefused);
    EXPECT_EQ(complex->SetValue(number), kRefused);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(text, u"kept");
    for (int32_t bad : {0, 12, -1}) {
        VELK_DataHandleWrapper typed(0x70002, true);
        typed.PutInt32(config::CFGMSG_VALUE_TYPE, bad);
        EXPECT_FALSE(config::CreateConfigValue(typed)) << bad;
    }
    VELK_DataHandleWrapper bare(0x70002, true);
    EXPECT_FALSE(config::CreateConfigValue(bare)) << "no type tag";
    bare.PutInt32(config::CFGMSG_VALUE_TYPE, config::CVT_UINT);
    unsigned int zero = 7;
    EXPECT_EQ(config::CreateConfigValue(bare)->GetValue(zero), kOk);
    EXPECT_EQ(zero, 0u);
}

}  // namespace
