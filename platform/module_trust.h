// The trust check a module must pass before it is loaded and run.
#pragma once

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

}  // namespace platform
