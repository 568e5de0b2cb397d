// The trust check a module must pass before it is loaded and run.
#pragma once
#include <cstddef>

namespace platform {

// Why a module fails the check (kTrusted when it passes).
enum class ModuleDistrust {
    kTrusted,
    kMissing,               // no such file
    kNotRegularFile,        // a folder, a device, ...
    kForeignOwner,          // Linux: owned by someone other than root or this process's user
    kWritableByOthers,      // Linux: group or others may write the file
    kFolderWritableByOthers,  // Linux: others may write its folder (or, without the sticky
                              // bit, a folder above it), so they could replace it
    kBadSignature,          // Windows: no valid Authenticode signature
};

// Windows: the file's Authenticode signature must verify (WinVerifyTrust); acceptUnsigned
// lets a file with no signature at all pass, for test builds only. Linux: the file (links
// followed: what the loader would map) must be a regular file owned by root or by this
// process's user, writable by no one else, in a folder that only root or this user owns and
// no one else may write, below folders no one else may write (a sticky folder such as /tmp
// counts as safe: others cannot rename or remove what they do not own there);
// acceptUnsigned changes nothing there.
ModuleDistrust CheckModuleTrust(const char16_t* path, bool acceptUnsigned);
bool IsModuleTrusted(const char16_t* path, bool acceptUnsigned);
// What a failed check says, for a message that names the module ("is writable by others").
const char* ModuleDistrustText(ModuleDistrust distrust);

// For a program that is linked with modules of its own (the loader maps them with it): the
// module holding each address must pass CheckModuleTrust(acceptUnsigned), or the program ends
// with exitCode and a line on standard error that names the module and the reason. Call it
// through PEZ_CHECK_LINKED_MODULES_AT_START, which runs it before those modules' own
// initialisers where the platform allows (Linux: from the program's preinit array; Windows
// maps and starts them before any code of the program, so there it runs before main).
void RefuseUntrustedLinkedModules(const void* const* addresses, size_t count,
                                  bool acceptUnsigned, int exitCode);

}  // namespace platform

#if defined(__ELF__)
#define PEZ_CHECK_LINKED_MODULES_AT_START(function)                                   \
    __attribute__((section(".preinit_array"), used)) static void (*const             \
                                                          pez_preinit_##function)() = function
#else
#define PEZ_CHECK_LINKED_MODULES_AT_START(function) \
    static const int pez_start_##function = (function(), 0)
#endif
