// The own module's path through the Windows loader.
#include "platform/module.h"

#include <windows.h>

namespace platform {

const char16_t kModuleSuffix[] = u".dll";
const char16_t kProgramSuffix[] = u".exe";
const char16_t kPathSeparator = u'\\';

uint32_t OwnModuleFileName(char16_t* buffer, uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    HMODULE self = nullptr;
    // Any address inside this module names it; the function itself is one.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnModuleFileName), &self)) {
        buffer[0] = u'\0';
        return 0;
    }
    const DWORD length = GetModuleFileNameW(self, reinterpret_cast<wchar_t*>(buffer), capacity);
    // Some loaders leave a cut path unterminated; the caller always gets a terminated one.
    if (length >= capacity) buffer[capacity - 1] = u'\0';
    return length;
}

}  // namespace platform
