// Linux has no registry: every key is missing.
#include "platform/registry.h"

namespace platform {

namespace {
int32_t OpenNothing(const char16_t*, uint32_t, void**) { return kRegistryKeyNotFound; }
void CloseNothing(void*) {}
}  // namespace

const RegistryCalls& SystemRegistryCalls() {
    static const RegistryCalls calls{OpenNothing, CloseNothing};
    return calls;
}

int32_t RegKey::QueryValue(const char16_t*, std::u16string&) const {
    return 6;  // ERROR_INVALID_HANDLE: no key is ever open
}

}  // namespace platform
