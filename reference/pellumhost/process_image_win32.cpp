// A process's image path from QueryFullProcessImageNameW.
#include <windows.h>

#include "platform/text.h"
#include "reference/pellumhost/process_image.h"

namespace pellumhost {

std::string ProcessImage(uint32_t processId) {
    if (processId == 0) return {};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return {};
    wchar_t path[MAX_PATH + 1] = {};
    DWORD units = MAX_PATH + 1;
    const BOOL named = QueryFullProcessImageNameW(process, 0, path, &units);
    CloseHandle(process);
    if (!named) return {};
    return platform::ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(path), units));
}

}  // namespace pellumhost
