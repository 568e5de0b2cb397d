// The symbolic names of restore result codes, as the restore report prints them.
#pragma once
#include <cstdint>
#include <string>

namespace engine_results {

// Results of restores (0xE0360005 has no name).
constexpr uint32_t kNotSupported = 0xE0360001;    // VELK_ZEF_NOT_SUPPORTED
constexpr uint32_t kNoBackup = 0xE0360002;        // VELK_ZEF_NO_BACKUP
constexpr uint32_t kNoValidBackup = 0xE0360003;   // VELK_ZEF_NO_VALID_BACKUP
constexpr uint32_t kRestoreFailed = 0xE0360004;   // VELK_ZEF_RESTORE_FAIL
constexpr uint32_t kOnlyPurgedBackups = 0xE0360005;
// Results of the version walks' deletes, reported to the host's result callback.
constexpr uint32_t kDeleteFailed = 0xE0360007;

// The name of a code, or empty text for a code the table does not hold.
const std::u16string& GetResultName(int32_t code);

}  // namespace engine_results
