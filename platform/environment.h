// What the process's environment and the system's folders say, read when asked.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Expands every %NAME% of text that names a defined environment variable, leaving the others
// as written (ExpandEnvironmentStringsW). Writes at most capacity units with a terminator and
// returns the units the whole result needs with its terminator, or 0 on failure.
uint32_t ExpandEnvironment(const char16_t* text, char16_t* buffer, uint32_t capacity);

// The all-users application data folder (SHGetFolderPathW of CSIDL_COMMON_APPDATA on Windows,
// /var/lib on Linux), without a trailing separator; empty when the system has none.
std::u16string CommonAppDataFolder();

// The full path of the process's own image (not of a module) into buffer, as
// GetModuleFileNameW(NULL) does; 0 on failure.
uint32_t ProcessImageFileName(char16_t* buffer, uint32_t capacity);

// The last error code of the calling thread (GetLastError / errno).
uint32_t LastErrorCode();

// The file name of the host service's image: "Pellumhost.exe" on Windows, "Pellumhost" on Linux.
extern const char16_t kHostImageName[];

}  // namespace platform
