// The words of the module trust check, the same on every platform.
#include "platform/module_trust.h"

namespace platform {

bool IsModuleTrusted(const char16_t* path, bool acceptUnsigned) {
    return CheckModuleTrust(path, acceptUnsigned) == ModuleDistrust::kTrusted;
}

const char* ModuleDistrustText(ModuleDistrust distrust) {
    switch (distrust) {
        case ModuleDistrust::kTrusted: return "passes the check";
        case ModuleDistrust::kMissing: return "does not exist";
        case ModuleDistrust::kNotRegularFile: return "is not a regular file";
        case ModuleDistrust::kForeignOwner: return "is owned by another user than root or the service's";
        case ModuleDistrust::kWritableByOthers: return "is writable by others";
        case ModuleDistrust::kFolderWritableByOthers:
            return "lies in a folder that others may write (or below one without the sticky bit)";
        case ModuleDistrust::kBadSignature: return "carries no valid signature";
    }
    return "fails the check";
}

}  // namespace platform
