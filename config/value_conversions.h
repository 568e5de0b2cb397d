// The conversions between configuration value types: range-tested integer casts, decimal and
// one-character texts, and text parsing, all without exceptions reaching the caller.
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>

#include <boost/lexical_cast.hpp>
#include <boost/numeric/conversion/cast.hpp>

namespace config {

template <typename T>
constexpr bool kIsCharType = std::is_same_v<T, char> || std::is_same_v<T, unsigned char>;

// from converted into *to exactly when it lies within To's range; never wrapped or truncated.
template <typename To, typename From>
bool RangeCast(From from, To& to) {
    try {
        to = boost::numeric_cast<To>(from);
        return true;
    } catch (const boost::bad_numeric_cast&) {
        return false;
    }
}

// Decimal text of an integer; a character type gives the one character of that byte.
template <typename T>
std::u16string IntegerText(T value) {
    if constexpr (kIsCharType<T>) {
        // The byte widened as the classic locale widens it: its own code, for every byte.
        return std::u16string(1, static_cast<char16_t>(static_cast<unsigned char>(value)));
    } else {
        const std::string digits = boost::lexical_cast<std::string>(value);
        return std::u16string(digits.begin(), digits.end());
    }
}

inline std::u16string BoolText(bool value) { return value ? u"1" : u"0"; }

// boost::lexical_cast of a UTF-16 text into T (an integer other than the character types, or
// bool): a sign, digits and nothing else. Text that is not ASCII cannot be a number.
template <typename T>
bool ParseText(const std::u16string& text, T& value) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t unit : text) {
        if (unit > 0x7F) return false;
        narrow += static_cast<char>(unit);
    }
    try {
        value = boost::lexical_cast<T>(narrow);
        return true;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}

}  // namespace config
