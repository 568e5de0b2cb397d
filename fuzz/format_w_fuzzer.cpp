// FormatW with any format text and arguments, against the length formatting reports (a %c of a
// zero writes and counts it, as C's functions do): that many units and a terminator, or when cut
// capacity-1 and a terminator; a failed format an empty text; nothing past the capacity.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/format_w.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = 1 + data[0] % 64;
    std::u16string format;
    for (size_t i = 1; i + 1 < size; i += 2) format += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    const std::u16string text = u"text\u00e9";
    const util::FormatArg args[] = {static_cast<int>(size), text, static_cast<uint64_t>(size) << 40,
                                    static_cast<const char16_t*>(nullptr), -7};
    constexpr size_t kArgs = sizeof args / sizeof args[0];
    char16_t buffer[80];
    std::memset(buffer, 0xAB, sizeof buffer);
    const int written = util::FormatWArgs(buffer, capacity, format.c_str(), args, kArgs);
    const int length = util::FormattedLengthArgs(format.c_str(), args, kArgs);
    const bool fits = length >= 0 && static_cast<size_t>(length) < capacity;
    const size_t end = length < 0 ? 0 : fits ? static_cast<size_t>(length) : capacity - 1;
    if (written != (fits ? length : -1) || buffer[end] != u'\0') __builtin_trap();
    for (size_t i = capacity; i < 80; ++i) {
        if (buffer[i] != 0xABAB) __builtin_trap();  // nothing written past the capacity
    }
    return 0;
}
