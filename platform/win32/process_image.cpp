// A process's image path from QueryFullProcessImageNameW.
#include "platform/process_image.h"

#include <windows.h>

namespace platform {

std::u16string ProcessImagePath(uint32_t processId) {
    if (processId == 0) return {};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return {};
    wchar_t path[MAX_PATH + 1] = {};
    DWORD units = MAX_PATH + 1;
    const BOOL named = QueryFullProcessImageNameW(process, 0, path, &units);
    CloseHandle(process);
    if (!named) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(path), units);
}

}  // namespace platform
