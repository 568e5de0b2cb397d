// FormatW with any format text and arguments: the result is -1 or the length written, and the
// buffer always holds a terminated text within its capacity.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/format_w.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = 1 + data[0] % 64;
    std::u16string format;
    for (size_t i = 1; i + 1 < size; i += 2) {
        format += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const std::u16string text = u"text\u00e9";
    char16_t buffer[80];
    std::memset(buffer, 0xAB, sizeof buffer);
    const int written = util::FormatW(buffer, capacity, format.c_str(), static_cast<int>(size),
                                      text, static_cast<uint64_t>(size) << 40,
                                      static_cast<const char16_t*>(nullptr), -7);
    const size_t length = std::char_traits<char16_t>::length(buffer);
    if (length >= capacity) __builtin_trap();
    if (written != -1 && static_cast<size_t>(written) != length) __builtin_trap();
    for (size_t i = capacity; i < 80; ++i) {
        if (buffer[i] != 0xABAB) __builtin_trap();  // nothing written past the capacity
    }
    return 0;
}
