// C stdio streams opened by a UTF-16 path.
#pragma once
#include <cstdio>
#include <string_view>

namespace platform {

// fopen with a UTF-16 path and an ASCII mode such as "ab"; null on failure.
std::FILE* OpenStdioFile(std::u16string_view path, const char* mode);

}  // namespace platform
