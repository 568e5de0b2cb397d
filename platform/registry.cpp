// Opening and closing registry keys over the platform's table of registry calls: the 64-bit
// view first, then the access as given.
#include "platform/registry.h"

namespace platform {

namespace {
constexpr uint32_t k64BitView = 0x100;  // KEY_WOW64_64KEY
}  // namespace

int32_t RegKey::Open(RegistryRoot, const char16_t* subkey, uint32_t access) {
    void* opened = nullptr;
    int32_t result = m_calls.openKey(subkey, access | k64BitView, &opened);
    if (result != 0) result = m_calls.openKey(subkey, access, &opened);
    if (result != 0) return result;
    Close();
    m_key = opened;
    return 0;
}

void RegKey::Close() {
    if (m_key != nullptr) m_calls.closeKey(m_key);
    m_key = nullptr;
}

}  // namespace platform
