// Linux file names are UTF-8.
#include "platform/stdio_file.h"

#include <string>

#include "platform/text.h"

namespace platform {

std::FILE* OpenStdioFile(std::u16string_view path, const char* mode) {
    return std::fopen(ToUtf8(path).c_str(), mode);
}

}  // namespace platform
