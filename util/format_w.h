// FormatW: printf-style formatting of UTF-16 text into a caller's buffer, bounded, with
// truncation. Arguments are type-checked at run time: a conversion that does not fit its
// argument fails the format instead of reading garbage.
//
// Conversions: %d %i %u %x %X %c %s %%, flags - + space # 0, width and precision (digits or
// '*'), length modifiers hh h l ll I64 I32. Integers are taken as 32-bit unless ll or I64 says
// 64 (as on Windows, where long is 32-bit): "%d" of 0xFFFFFFFF prints -1. %s takes UTF-16 text
// and prints "(null)" for a null pointer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace util {

class FormatArg {
public:
    enum class Kind { kNone, kInteger, kText };

    constexpr FormatArg() = default;

    template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
    constexpr FormatArg(T value)  // NOLINT(google-explicit-constructor): built from call sites
        : kind_(Kind::kInteger), integer_(ToBits(value)) {}

    FormatArg(const char16_t* text)
        : kind_(Kind::kText),
          text_(text != nullptr ? std::u16string_view(text) : std::u16string_view()),
          textIsNull_(text == nullptr) {}
    constexpr FormatArg(std::u16string_view text) : kind_(Kind::kText), text_(text) {}
    FormatArg(const std::u16string& text) : kind_(Kind::kText), text_(text) {}

    Kind kind() const { return kind_; }
    uint64_t integer() const { return integer_; }
    std::u16string_view text() const { return text_; }
    bool textIsNull() const { return textIsNull_; }

private:
    // Signed values are sign-extended so that any width can be taken from the low bits.
    template <typename T>
    static constexpr uint64_t ToBits(T value) {
        if constexpr (std::is_enum_v<T>) {
            return ToBits(static_cast<std::underlying_type_t<T>>(value));
        } else if constexpr (std::is_signed_v<T>) {
            return static_cast<uint64_t>(static_cast<int64_t>(value));
        } else {
            return static_cast<uint64_t>(value);
        }
    }

    Kind kind_ = Kind::kNone;
    uint64_t integer_ = 0;
    std::u16string_view text_;
    bool textIsNull_ = false;
};

// Formats into buffer (capacity units, terminator included). Returns the units written
// without the terminator, or -1 when the output was cut (the buffer then holds the first
// capacity-1 units) or the format failed (the buffer then holds an empty text). Nothing is
// written when buffer is null or capacity is 0; the result is then -1.
int FormatWArgs(char16_t* buffer, size_t capacity, const char16_t* format,
                const FormatArg* args, size_t argCount);

// The units that formatting would produce, without writing anything; -1 when the format fails.
int FormattedLengthArgs(const char16_t* format, const FormatArg* args, size_t argCount);

template <typename... Args>
int FormatW(char16_t* buffer, size_t capacity, const char16_t* format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg()};
    return FormatWArgs(buffer, capacity, format, list, sizeof...(Args));
}

// "<folder><separator><name>" with the platform's separator, formatted like FormatW (cut
// silently when longer than capacity allows); returns what FormatW returns.
int FormatJoinedPath(char16_t* buffer, size_t capacity, std::u16string_view folder,
                     std::u16string_view name);

}  // namespace util
