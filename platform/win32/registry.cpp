// Registry keys through the Windows calls: opening and closing a key, reading a value.
#include "platform/registry.h"

#include <windows.h>

#include <memory>

namespace platform {

namespace {

int32_t OpenKey(const char16_t* subkey, uint32_t access, void** key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(subkey),
                                      0, access, &opened);
    if (result == ERROR_SUCCESS) *key = opened;
    return result;
}

void CloseKey(void* key) { RegCloseKey(static_cast<HKEY>(key)); }

}  // namespace

const RegistryCalls& SystemRegistryCalls() {
    static const RegistryCalls calls{OpenKey, CloseKey};
    return calls;
}

int32_t RegKey::QueryValue(const char16_t* name, std::u16string& text) const {
    const wchar_t* value = reinterpret_cast<const wchar_t*>(name);
    DWORD bytes = 0;
    LONG result = RegQueryValueExW(static_cast<HKEY>(m_key), value, nullptr, nullptr, nullptr, &bytes);
    if (result != ERROR_SUCCESS) return result;
    std::unique_ptr<BYTE[]> data(new BYTE[bytes + sizeof(wchar_t)]());
    result = RegQueryValueExW(static_cast<HKEY>(m_key), value, nullptr, nullptr, data.get(), &bytes);
    if (result == ERROR_SUCCESS) {
        const auto* units = reinterpret_cast<const char16_t*>(data.get());
        const size_t count = bytes / sizeof(char16_t);
        size_t length = 0;
        while (length < count && units[length] != u'\0') ++length;
        text.assign(units, length);
    }
    return result;
}

}  // namespace platform
