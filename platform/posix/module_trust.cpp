// On Linux a module is trusted when nobody but root or this user could have written it.
#include "platform/module_trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/text.h"

namespace platform {

bool IsModuleTrusted(const char16_t* path, bool /*acceptUnsigned*/) {
    if (path == nullptr || *path == u'\0') return false;
    struct stat info {};
    // stat follows links: what is checked is what the loader would map.
    if (stat(ToUtf8(path).c_str(), &info) != 0) return false;
    if (!S_ISREG(info.st_mode)) return false;
    if (info.st_uid != 0 && info.st_uid != geteuid()) return false;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace platform
