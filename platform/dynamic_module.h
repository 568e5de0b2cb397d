// Loading other modules (DLLs, shared objects) by full path and resolving their exports.
#pragma once

namespace platform {

using ModuleHandle = void*;

// LoadLibraryW / dlopen: null when the module cannot be loaded. Each successful load must be
// matched by one UnloadModule.
ModuleHandle LoadModuleByPath(const char16_t* path);
// GetProcAddress / dlsym: null when the module has no export of that name.
void* FindExport(ModuleHandle module, const char* name);
// FreeLibrary / dlclose; a null handle is ignored.
void UnloadModule(ModuleHandle module);

}  // namespace platform
