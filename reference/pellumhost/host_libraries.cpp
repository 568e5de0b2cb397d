// Checking and loading the host's own libraries before any of their code runs.
#include "reference/pellumhost/host_libraries.h"

#include <cstdio>
#include <string>

#include "platform/dynamic_module.h"
#include "platform/module.h"
#include "platform/module_trust.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/host_library_forwarders.h"

namespace pellumhost {
namespace {

// The reference libraries carry no signature; Windows takes them as the plug-in's test build
// takes an unsigned engine.
constexpr bool kAcceptUnsignedLibraries = true;

// Checks and loads one library beside the program; null after a line on standard error.
platform::ModuleHandle LoadChecked(const char16_t* baseName, int& status) {
    const std::u16string path =
        OwnFolder() + platform::kPathSeparator + baseName + platform::kModuleSuffix;
    const std::string shown = platform::ToUtf8(path);
    const platform::ModuleDistrust distrust =
        platform::CheckModuleTrust(path.c_str(), kAcceptUnsignedLibraries);
    if (distrust == platform::ModuleDistrust::kMissing) {
        std::fprintf(stderr,
                     "Pellumhost: the library %s does not exist (install it beside the program)\n",
                     shown.c_str());
        status = kExitNoPlugin;
        return nullptr;
    }
    if (distrust != platform::ModuleDistrust::kTrusted) {
        std::fprintf(stderr,
                     "Pellumhost: the module %s is not trusted: it %s (a module must be owned by "
                     "root or by the service's user, and neither it nor its folder writable by "
                     "anyone else)\n",
                     shown.c_str(), platform::ModuleDistrustText(distrust));
        status = kExitUntrustedEngine;
        return nullptr;
    }
    platform::ModuleHandle module =
        platform::LoadModuleByPath(path.c_str(), platform::ModuleExports::kShared);
    if (module == nullptr) {
        std::fprintf(stderr, "Pellumhost: the library %s cannot be loaded (reinstall it)\n",
                     shown.c_str());
        status = kExitNoPlugin;
    }
    return module;
}

}  // namespace

int LoadHostLibraries() {
    int status = kExitOk;
    platform::ModuleHandle morrick = LoadChecked(u"Morrick", status);
    if (morrick == nullptr) return status;
    platform::ModuleHandle quastle = LoadChecked(u"Quastle", status);
    if (quastle == nullptr) return status;
    if (const char* missing = BindHostLibraryFunctions(morrick, quastle)) {
        std::fprintf(stderr,
                     "Pellumhost: the libraries beside the program lack %s (install the Morrick "
                     "and Quastle that came with it)\n",
                     missing);
        return kExitNoPlugin;
    }
    return kExitOk;
}

}  // namespace pellumhost
