// Renders one log line as UTF-8 text.
#include "reference/quastle/line_renderer.h"

#include <cstdio>

#include "platform/text.h"

namespace quastle {

std::string RenderLine(const platform::SystemTime& when, std::u16string_view moduleTag,
                       uint32_t level, std::u16string_view sourceFile, uint32_t line,
                       std::u16string_view text) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ",
                  unsigned{when.wYear}, unsigned{when.wMonth}, unsigned{when.wDay},
                  unsigned{when.wHour}, unsigned{when.wMinute}, unsigned{when.wSecond},
                  unsigned{when.wMilliseconds});
    std::string out = stamp;
    out += '[';
    out += platform::ToUtf8(moduleTag);
    out += "] ";
    out += std::to_string(level);
    out += ' ';
    out += platform::ToUtf8(sourceFile);
    out += '(';
    out += std::to_string(line);
    out += "): ";
    out += platform::ToUtf8(text);
    out += '\n';
    return out;
}

}  // namespace quastle
