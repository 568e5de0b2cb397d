// The system's 8-bit text on Windows is the ANSI code page.
#include "platform/text.h"

#include <windows.h>

namespace platform {

int AnsiToUtf16(const char* src, int srcUnits, char16_t* dst, int dstCapacity) {
    if (src == nullptr) return 0;
    return MultiByteToWideChar(CP_ACP, 0, src, srcUnits, reinterpret_cast<wchar_t*>(dst),
                               dstCapacity);
}

int Utf16ToUtf8(std::u16string_view text, char* dst, int dstCapacity) {
    if (dst == nullptr || dstCapacity <= 0) return 0;
    if (text.empty()) {
        dst[0] = '\0';
        return 1;
    }
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.data()),
                            static_cast<int>(text.size()), dst, dstCapacity - 1, nullptr, nullptr);
    if (written <= 0) return 0;
    dst[written] = '\0';
    return written + 1;
}

}  // namespace platform
