// The engine's pattern: a folder holding "zef.ptn", UTF-8 lines of our own format that
// end with the SHA-1 of the lines before them:
//     ZEF-PATTERN 1
//     disabled 0
//     max-file-size 268435456
//     max-file-size-pid 268435456
//     policy <type> <subtype> <value type> <number>        (value types 4 and 8)
//     policy <type> <subtype> <value type> <text>|<text>   (other value types)
//     sha1 <40 hexadecimal digits>
// A folder without the file holds the built-in pattern.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reference/zef/file_table.h"

namespace zef {

constexpr uint32_t kDefaultMaxFileSize = 256u << 20;

struct PolicyEntry {
    uint32_t type = 0;
    uint32_t subtype = 0;
    uint32_t valueType = 0;
    uint32_t number = 0;
    std::vector<std::u16string> texts;
};

struct Pattern {
    bool disabled = false;
    uint32_t maxFileSize = kDefaultMaxFileSize;
    uint32_t maxFileSizePid = kDefaultMaxFileSize;
    std::vector<PolicyEntry> policies;
};

enum class PatternLoad { kLoaded, kBuiltIn, kCorrupt };

PatternLoad LoadPattern(const FileTable& files, const std::u16string& folder, Pattern& pattern,
                        std::u16string& reason);
// The file's bytes for a pattern, its seal included.
std::string PatternText(const Pattern& pattern);
bool IsNumericValueType(uint32_t valueType);

}  // namespace zef
