// DiagText: the UTF-16 message of one diagnostic line, built from typed pieces.
// AppendPiece overloads pick the appender from a piece's type; a test or a caller may add
// its own overload for its own type (found by argument-dependent lookup).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace util {

class DiagText {
public:
    DiagText() = default;
    DiagText(const DiagText&) = delete;
    DiagText& operator=(const DiagText&) = delete;

    // Terminated UTF-16; a null pointer appends "(NULL)".
    DiagText& AppendWide(const char16_t* text);
    DiagText& AppendWide(std::u16string_view text);
    // Terminated 8-bit text in the system code page; a null pointer appends "(NULL)".
    DiagText& AppendNarrow(const char* text);
    // "0" for zero, otherwise "0x" and lower-case hexadecimal without leading zeros.
    DiagText& AppendNumber(uint64_t value);
    // The character '0' + value.
    DiagText& AppendDigit(uint8_t value);
    // "1" or "0".
    DiagText& AppendBool(bool value);

    // The text bytes, or null while the text is empty.
    const uint8_t* Data() const { return used_ != 0 ? storage_.data() : nullptr; }
    uint32_t UsedBytes() const { return used_; }
    std::u16string_view View() const {
        return {reinterpret_cast<const char16_t*>(storage_.data()), used_ / 2};
    }

private:
    void AppendBytes(const void* bytes, uint32_t count);

    std::vector<uint8_t> storage_;
    uint32_t used_ = 0;
};

// A value for the digit appender: DiagDigit{3} appends "3".
struct DiagDigit {
    uint8_t value;
};

inline void AppendPiece(DiagText& text, const char16_t* piece) { text.AppendWide(piece); }
inline void AppendPiece(DiagText& text, std::u16string_view piece) { text.AppendWide(piece); }
inline void AppendPiece(DiagText& text, const std::u16string& piece) { text.AppendWide(piece); }
inline void AppendPiece(DiagText& text, const char* piece) { text.AppendNarrow(piece); }
inline void AppendPiece(DiagText& text, bool piece) { text.AppendBool(piece); }
inline void AppendPiece(DiagText& text, DiagDigit piece) { text.AppendDigit(piece.value); }

// Integers (never characters) are written in the hexadecimal form; values up to 32 bits
// through the 32-bit appender, so a negative int shows as its 32-bit pattern.
template <typename T,
          std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                               !std::is_same_v<T, char> && !std::is_same_v<T, char16_t> &&
                               !std::is_same_v<T, char32_t> && !std::is_same_v<T, wchar_t>,
                           int> = 0>
void AppendPiece(DiagText& text, T piece) {
    if constexpr (sizeof(T) <= 4) {
        text.AppendNumber(static_cast<uint32_t>(piece));
    } else {
        text.AppendNumber(static_cast<uint64_t>(piece));
    }
}

}  // namespace util
