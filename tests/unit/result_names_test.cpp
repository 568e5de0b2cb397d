// The result-name table: every row, the restore result without a row, and unknown codes.
#include "engine/result_names.h"

#include <gtest/gtest.h>

namespace {

TEST(ResultNames, EveryRowAndTheCodesWithoutOne) {
    const std::pair<uint32_t, const char16_t*> cases[] = {
        {0x20FF0000, u"VELK_SUCCESS"}, {0xE0360001, u"VELK_ZEF_NOT_SUPPORTED"}, {0xE0360002, u"VELK_ZEF_NO_BACKUP"},
        {0xE0360003, u"VELK_ZEF_NO_VALID_BACKUP"}, {0xE0360004, u"VELK_ZEF_RESTORE_FAIL"},
        {0xE0360005, u""},  // a restore result, but without a row
        {0xE0360000, u""}, {0xE0360006, u""}, {0x20FF0001, u""}, {0x00000000, u""}, {0xFFFFFFFF, u""},
        {0xE0360002, u"VELK_ZEF_NO_BACKUP"}};  // a lookup leaves the table as it was
    for (const auto& [code, name] : cases) {
        EXPECT_EQ(engine_results::GetResultName(static_cast<int32_t>(code)), name) << std::hex << code;
    }
}

}  // namespace
