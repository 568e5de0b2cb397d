// The environment and folders through the Windows calls.
#include "platform/environment.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {

const char16_t kHostImageName[] = u"Pellumhost.exe";

uint32_t ExpandEnvironment(const char16_t* text, char16_t* buffer, uint32_t capacity) {
    return ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(text),
                                     reinterpret_cast<wchar_t*>(buffer), capacity);
}

std::u16string CommonAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(folder));
}

uint32_t ProcessImageFileName(char16_t* buffer, uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    const DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
    if (length >= capacity) buffer[capacity - 1] = u'\0';
    return length;
}

uint32_t LastErrorCode() { return GetLastError(); }

}  // namespace platform
