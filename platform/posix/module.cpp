// The own module's path through the dynamic loader.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "platform/text.h"

namespace platform {

const char16_t kModuleSuffix[] = u".so";
const char16_t kProgramSuffix[] = u"";
const char16_t kPathSeparator = u'/';

uint32_t OwnModuleFileName(char16_t* buffer, uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    Dl_info info{};
    // Any address inside this module names it; the function itself is one.
    if (dladdr(reinterpret_cast<void*>(&OwnModuleFileName), &info) == 0 ||
        info.dli_fname == nullptr) {
        buffer[0] = u'\0';
        return 0;
    }
    char resolved[PATH_MAX];
    const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const std::u16string wide = FromUtf8(path);
    const bool cut = wide.size() >= capacity;
    const uint32_t count = cut ? capacity - 1 : static_cast<uint32_t>(wide.size());
    wide.copy(buffer, count);
    buffer[count] = u'\0';
    return cut ? capacity : count;
}

}  // namespace platform
