// Registry keys through the Windows calls: the 64-bit view first, then the plain view.
#include "platform/registry.h"

#include <windows.h>

#include <memory>

namespace platform {

int32_t RegKey::Open(RegistryRoot, const char16_t* subkey, uint32_t access) {
    HKEY opened = nullptr;
    const wchar_t* name = reinterpret_cast<const wchar_t*>(subkey);
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, access | KEY_WOW64_64KEY, &opened);
    if (result != ERROR_SUCCESS) result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, access, &opened);
    if (result != ERROR_SUCCESS) return result;
    Close();
    m_key = opened;
    return 0;
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

void RegKey::Close() {
    if (m_key != nullptr) RegCloseKey(static_cast<HKEY>(m_key));
    m_key = nullptr;
}

}  // namespace platform
