// The system's 8-bit text on Linux is UTF-8.
#include "platform/text.h"

#include <cstdint>

namespace platform {

int AnsiToUtf16(const char* src, int srcUnits, char16_t* dst, int dstCapacity) {
    if (src == nullptr || srcUnits == 0 || srcUnits < -1 || dstCapacity < 0) return 0;
    const std::string_view text =
        srcUnits == -1 ? std::string_view(src, std::char_traits<char>::length(src) + 1)
                       : std::string_view(src, static_cast<size_t>(srcUnits));
    const size_t needed = DecodeUtf8(text, nullptr, 0);
    if (needed > static_cast<size_t>(INT32_MAX)) return 0;
    if (dstCapacity == 0) return static_cast<int>(needed);
    if (dst == nullptr || needed > static_cast<size_t>(dstCapacity)) return 0;
    DecodeUtf8(text, dst, needed);
    return static_cast<int>(needed);
}

int Utf16ToUtf8(std::u16string_view text, char* dst, int dstCapacity) {
    if (dst == nullptr || dstCapacity <= 0) return 0;
    const size_t room = static_cast<size_t>(dstCapacity) - 1;
    const size_t needed = EncodeUtf8(text, dst, room);
    if (needed > room) return 0;
    dst[needed] = '\0';
    return static_cast<int>(needed + 1);
}

}  // namespace platform
