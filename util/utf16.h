// Small helpers for terminated UTF-16 text, the system's one text type.
#pragma once
#include <cstddef>
#include <string_view>

namespace util {

// Units before the terminator; 0 for a null pointer.
inline size_t Utf16Length(const char16_t* text) {
    return text != nullptr ? std::char_traits<char16_t>::length(text) : 0;
}

// A view of a terminated text; empty for a null pointer.
inline std::u16string_view Utf16View(const char16_t* text) {
    return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

}  // namespace util
