// Windows file names are UTF-16: the wide fopen takes them as they are.
#include "platform/stdio_file.h"

#include <windows.h>

#include <string>

namespace platform {

std::FILE* OpenStdioFile(std::u16string_view path, const char* mode) {
    const std::wstring widePath(path.begin(), path.end());
    const std::string narrowMode(mode);
    const std::wstring wideMode(narrowMode.begin(), narrowMode.end());
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

}  // namespace platform
