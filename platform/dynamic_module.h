// Loading other modules (DLLs, shared objects) by full path and resolving their exports.
#pragma once
#include <type_traits>

namespace platform {

using ModuleHandle = void*;

// Who binds to a module's exports: only callers of FindExport (kPrivate), or also modules
// loaded later that import them by name (kShared: Linux RTLD_GLOBAL; Windows binds imports by
// module name either way).
enum class ModuleExports { kPrivate, kShared };

// LoadLibraryW / dlopen: null when the module cannot be loaded. Each successful load must be
// matched by one UnloadModule.
ModuleHandle LoadModuleByPath(const char16_t* path,
                              ModuleExports exports = ModuleExports::kPrivate);
// GetProcAddress / dlsym: null when the module has no export of that name.
void* FindExport(ModuleHandle module, const char* name);
// FindExport typed as the function pointer F the caller declares for that export; null when
// missing. The one place where an export's address becomes a callable type.
template <typename F>
F FindExportAs(ModuleHandle module, const char* name) {
    static_assert(std::is_pointer_v<F> && std::is_function_v<std::remove_pointer_t<F>>,
                  "F is a pointer to a function");
    return reinterpret_cast<F>(FindExport(module, name));
}
// FreeLibrary / dlclose; a null handle is ignored.
void UnloadModule(ModuleHandle module);

}  // namespace platform
