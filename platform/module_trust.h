// The trust check a module must pass before it is loaded and run.
#pragma once

namespace platform {

// Windows: the file's Authenticode signature must verify (WinVerifyTrust); acceptUnsigned
// lets a file with no signature at all pass, for test builds only. Linux: the file must be a
// regular file owned by root or by this process's user and writable by no one else;
// acceptUnsigned changes nothing there.
bool IsModuleTrusted(const char16_t* path, bool acceptUnsigned);

}  // namespace platform
