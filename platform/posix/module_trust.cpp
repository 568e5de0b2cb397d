// On Linux a module is trusted when nobody but root or this user could have written it or
// replaced it: the file, its folder and the folders above it.
#include "platform/module_trust.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {
namespace {

bool TrustedOwner(const struct stat& info) { return info.st_uid == 0 || info.st_uid == geteuid(); }

// The real folder of a module and every folder above it, checked up to "/".
ModuleDistrust CheckFolders(const char* path) {
    char real[PATH_MAX];
    if (realpath(path, real) == nullptr) return ModuleDistrust::kMissing;
    bool own = true;  // the module's own folder: no write by others at all, sticky or not
    for (char* slash = strrchr(real, '/'); slash != nullptr; slash = strrchr(real, '/')) {
        *slash = '\0';
        const char* folder = real[0] == '\0' ? "/" : real;
        struct stat info {};
        if (stat(folder, &info) != 0) return ModuleDistrust::kMissing;
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (!TrustedOwner(info) || (othersWrite && (own || (info.st_mode & S_ISVTX) == 0)))
            return ModuleDistrust::kFolderWritableByOthers;
        own = false;
        if (real[0] == '\0') break;
    }
    return ModuleDistrust::kTrusted;
}

ModuleDistrust CheckPath(const char* path) {
    struct stat info {};
    // stat follows links: what is checked is what the loader would map.
    if (stat(path, &info) != 0) return ModuleDistrust::kMissing;
    if (!S_ISREG(info.st_mode)) return ModuleDistrust::kNotRegularFile;
    if (!TrustedOwner(info)) return ModuleDistrust::kForeignOwner;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return ModuleDistrust::kWritableByOthers;
    return CheckFolders(path);
}

}  // namespace

ModuleDistrust CheckModuleTrust(const char16_t* path, bool /*acceptUnsigned*/) {
    if (path == nullptr || *path == u'\0') return ModuleDistrust::kMissing;
    return CheckPath(ToUtf8(path).c_str());
}

}  // namespace platform
