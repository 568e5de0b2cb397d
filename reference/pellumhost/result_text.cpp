// The host's result texts.
#include "reference/pellumhost/result_text.h"

#include <cstdio>

namespace pellumhost {

std::string ResultText(uint32_t result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

std::string RestoreResultText(uint32_t result) {
    struct Named {
        uint32_t code;
        const char* text;
    };
    static const Named kNames[] = {
        {0x20FF0000, "restored (VELK_SUCCESS)"},
        {0xE0360002, "no version kept (VELK_ZEF_NO_BACKUP)"},
        {0xE0360003, "no version could be restored (VELK_ZEF_NO_VALID_BACKUP)"},
        {0xE0360004, "the restore failed (VELK_ZEF_RESTORE_FAIL)"},
        {0xE0360005, "no version left: the file's editions were purged"},
        {0xE0360006, "the engine could not back the file up"},
        {0xE0360009, "the engine is not running"},
        {0xE0FF0007, "refused: a bad argument, or the engine is disabled"},
    };
    for (const Named& named : kNames)
        if (named.code == result) return ResultText(result) + " " + named.text;
    return ResultText(result);
}

}  // namespace pellumhost
