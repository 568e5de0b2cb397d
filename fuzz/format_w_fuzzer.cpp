// FormatW with any format text and arguments. As C's formatting functions do, a %c of a zero
// character writes that zero and counts it, so the result is checked against the length that
// formatting reports, not against the text's length up to its first zero: the buffer holds
// that many units and a terminator after them, or, when cut, capacity-1 units and a
// terminator; a failed format leaves an empty text; nothing is written past the capacity.
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
    if (length < 0) {
        if (written != -1 || buffer[0] != u'\0') __builtin_trap();
    } else if (static_cast<size_t>(length) < capacity) {
        if (written != length || buffer[length] != u'\0') __builtin_trap();
    } else {
        if (written != -1 || buffer[capacity - 1] != u'\0') __builtin_trap();
    }
    for (size_t i = capacity; i < 80; ++i) {
        if (buffer[i] != 0xABAB) __builtin_trap();  // nothing written past the capacity
    }
    return 0;
}
