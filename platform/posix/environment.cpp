// The environment and folders on Linux.
#include "platform/environment.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {

const char16_t kHostImageName[] = u"Pellumhost";

uint32_t ExpandEnvironment(const char16_t* text, char16_t* buffer, uint32_t capacity) {
    if (text == nullptr) return 0;
    const std::u16string input(text);
    std::u16string out;
    for (size_t at = 0; at < input.size();) {
        if (input[at] != u'%') {
            out += input[at++];
            continue;
        }
        const size_t close = input.find(u'%', at + 1);
        if (close == std::u16string::npos) {
            out += input.substr(at);
            break;
        }
        const std::u16string name = input.substr(at + 1, close - at - 1);
        const char* value = name.empty() ? nullptr : getenv(ToUtf8(name).c_str());
        if (value != nullptr) {
            out += FromUtf8(value);
            at = close + 1;
        } else {
            out += input.substr(at, close - at);  // "%name" stays; its closing sign may open another
            at = close;
        }
    }
    const uint32_t needed = static_cast<uint32_t>(out.size() + 1);
    if (buffer != nullptr && capacity >= needed) {
        out.copy(buffer, out.size());
        buffer[out.size()] = u'\0';
    }
    return needed;
}

std::u16string CommonAppDataFolder() { return u"/var/lib"; }

uint32_t ProcessImageFileName(char16_t* buffer, uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = '\0';
    const std::u16string wide = FromUtf8(path);
    const uint32_t count = wide.size() < capacity ? static_cast<uint32_t>(wide.size()) : capacity - 1;
    wide.copy(buffer, count);
    buffer[count] = u'\0';
    return wide.size() < capacity ? count : capacity;
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

}  // namespace platform
