// Modules through the Windows loader.
#include "platform/dynamic_module.h"

#include <windows.h>

namespace platform {

ModuleHandle LoadModuleByPath(const char16_t* path, ModuleExports /*exports*/) {
    if (path == nullptr) return nullptr;
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(path));
}

void* FindExport(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(ModuleHandle module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform
