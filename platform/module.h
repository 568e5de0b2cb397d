// The module (DLL or shared object) that holds the calling code.
#pragma once
#include <cstdint>

namespace platform {

// The separator of folders in paths this platform opens: '\' on Windows, '/' on Linux.
extern const char16_t kPathSeparator;
// The file name ending of a module on this platform: ".dll" on Windows, ".so" on Linux.
extern const char16_t kModuleSuffix[];
// The file name ending of a program: ".exe" on Windows, none on Linux.
extern const char16_t kProgramSuffix[];

// Writes the full path of the module that contains this code (not the host process) into
// buffer, as GetModuleFileNameW does: at most capacity-1 units and a terminator. Returns the
// number of units written without the terminator, capacity when the path was cut, 0 on failure.
uint32_t OwnModuleFileName(char16_t* buffer, uint32_t capacity);

}  // namespace platform
