// UTF-8 decoding of any bytes: converting the result back and forth is stable.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = platform::FromUtf8(bytes);
    const std::string utf8 = platform::ToUtf8(wide);
    if (platform::FromUtf8(utf8) != wide) __builtin_trap();
    // Any UTF-16 (unpaired surrogates included) survives a trip through UTF-8 up to U+FFFD.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    const std::u16string back = platform::FromUtf8(platform::ToUtf8(units));
    if (back.size() != units.size()) __builtin_trap();
    int capacityLeft = platform::AnsiToUtf16(bytes.data(), static_cast<int>(size), nullptr, 0);
    if (size > 0 && capacityLeft != static_cast<int>(wide.size())) __builtin_trap();
    return 0;
}
