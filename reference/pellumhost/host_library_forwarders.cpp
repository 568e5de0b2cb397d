// Pellumhost's own definitions of the Morrick and Quastle functions it calls, each calling
// through a pointer bound from the library loaded after the trust check. Written once, before
// any thread starts; read-only afterwards.
#define PEZ_FORWARDING_HOST_LIBRARIES
#include "reference/pellumhost/host_library_forwarders.h"

#include "host/log_library_control.h"
#include "host/message_library.h"

namespace {

#define PELLUMHOST_POINTER(ret, name, params, args) ret(*bound_##name) params = nullptr;
PELLUMHOST_MORRICK_FUNCTIONS(PELLUMHOST_POINTER)
PELLUMHOST_QUASTLE_FUNCTIONS(PELLUMHOST_POINTER)
#undef PELLUMHOST_POINTER

}  // namespace

// The definitions stay out of the program's dynamic symbols (it is linked without -rdynamic),
// so the plug-in, which imports these names, binds to the libraries themselves.
#define PELLUMHOST_FORWARDER(ret, name, params, args) \
    extern "C" ret name params { return bound_##name args; }
PELLUMHOST_MORRICK_FUNCTIONS(PELLUMHOST_FORWARDER)
PELLUMHOST_QUASTLE_FUNCTIONS(PELLUMHOST_FORWARDER)
#undef PELLUMHOST_FORWARDER

#if defined(_WIN32)
// Code compiled against the headers' dllimport declarations calls through the import slot
// __imp_<name>, which an import library would provide; the program's slots hold its own
// definitions instead.
#define PELLUMHOST_IMPORT_SLOT(ret, name, params, args) \
    extern "C" {                                        \
    ret(*__imp_##name) params = &name;                  \
    }
PELLUMHOST_MORRICK_FUNCTIONS(PELLUMHOST_IMPORT_SLOT)
PELLUMHOST_QUASTLE_FUNCTIONS(PELLUMHOST_IMPORT_SLOT)
#undef PELLUMHOST_IMPORT_SLOT
#endif

namespace pellumhost {
namespace {

template <typename F>
bool Bind(platform::ModuleHandle module, const char* name, F& pointer) {
    pointer = platform::FindExportAs<F>(module, name);
    return pointer != nullptr;
}

void Unbind() {
#define PELLUMHOST_UNBIND(ret, name, params, args) bound_##name = nullptr;
    PELLUMHOST_MORRICK_FUNCTIONS(PELLUMHOST_UNBIND)
    PELLUMHOST_QUASTLE_FUNCTIONS(PELLUMHOST_UNBIND)
#undef PELLUMHOST_UNBIND
}

}  // namespace

const char* BindHostLibraryFunctions(platform::ModuleHandle morrick,
                                     platform::ModuleHandle quastle) {
    platform::ModuleHandle from = morrick;
#define PELLUMHOST_BIND(ret, name, params, args) \
    if (!Bind(from, #name, bound_##name)) {      \
        Unbind();                                \
        return #name;                            \
    }
    PELLUMHOST_MORRICK_FUNCTIONS(PELLUMHOST_BIND)
    from = quastle;
    PELLUMHOST_QUASTLE_FUNCTIONS(PELLUMHOST_BIND)
#undef PELLUMHOST_BIND
    return nullptr;
}

}  // namespace pellumhost
