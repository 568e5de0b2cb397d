// Modules through the dynamic loader.
#include "platform/dynamic_module.h"

#include <dlfcn.h>

#include <string>

#include "platform/text.h"

namespace platform {

ModuleHandle LoadModuleByPath(const char16_t* path, ModuleExports exports) {
    if (path == nullptr) return nullptr;
    const int scope = exports == ModuleExports::kShared ? RTLD_GLOBAL : RTLD_LOCAL;
    return dlopen(ToUtf8(path).c_str(), RTLD_NOW | scope);
}

void* FindExport(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return dlsym(module, name);
}

void UnloadModule(ModuleHandle module) {
    if (module != nullptr) dlclose(module);
}

}  // namespace platform
