// The system's 8-bit text on Windows is the ANSI code page.
#include "platform/text.h"

#include <windows.h>

namespace platform {

int AnsiToUtf16(const char* src, int srcUnits, char16_t* dst, int dstCapacity) {
    if (src == nullptr) return 0;
    return MultiByteToWideChar(CP_ACP, 0, src, srcUnits, reinterpret_cast<wchar_t*>(dst),
                               dstCapacity);
}

}  // namespace platform
