// Linux has no registry: every key is missing.
#include "platform/registry.h"

namespace platform {

int32_t RegKey::Open(RegistryRoot, const char16_t*, uint32_t) { return kRegistryKeyNotFound; }

int32_t RegKey::QueryValue(const char16_t*, std::u16string&) const {
    return 6;  // ERROR_INVALID_HANDLE: no key is ever open
}

void RegKey::Close() { m_key = nullptr; }

}  // namespace platform
