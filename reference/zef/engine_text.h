// Texts that cross the engine's exports: taken in only when terminated within a path's
// length and well-formed UTF-16, written out only when they fit the caller's buffer whole.
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>

namespace zef {

// The longest path the engine accepts: 259 units and a terminator (MAX_PATH on Windows).
constexpr uint32_t kMaxPathUnits = 259;

enum class TextCheck { kOk, kNull, kEmpty, kTooLong, kIllFormed };

// Reads a terminated text of at most maxUnits units into text (left empty unless kOk); the
// units past maxUnits + 1 are never read.
TextCheck TakeText(const char16_t* source, uint32_t maxUnits, std::u16string& text);
const char16_t* TextCheckName(TextCheck check);
// Copies text and its terminator into buffer when all of it fits in capacity units; otherwise
// writes an empty text (when it can) and answers false.
bool PutText(const std::u16string& text, uint32_t capacity, char16_t* buffer);
// "folder" + the platform's separator + "name".
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
// The folder part of a path (empty when it has none).
std::u16string FolderOf(const std::u16string& path);
std::u16string Decimal(uint64_t value);

// Builds one text from UTF-16 texts and unsigned numbers, for log lines.
inline void AppendPiece(std::u16string& text, const std::u16string& piece) { text += piece; }
inline void AppendPiece(std::u16string& text, const char16_t* piece) { text += piece; }
template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
void AppendPiece(std::u16string& text, Number number) {
    if constexpr (std::is_signed_v<Number>) {
        if (number < 0) {
            text += u'-';
            text += Decimal(static_cast<uint64_t>(-(static_cast<int64_t>(number) + 1)) + 1);
            return;
        }
    }
    text += Decimal(static_cast<uint64_t>(number));
}
template <typename... Pieces>
std::u16string Concat(const Pieces&... pieces) {
    std::u16string text;
    (AppendPiece(text, pieces), ...);
    return text;
}

}  // namespace zef
