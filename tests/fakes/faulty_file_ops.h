// The plug-in's file calls (platform::FileOps) over the system's, with faults a test switches
// on and off: the file cannot be opened or created, a write fails as on a full disk or reaches
// the disk only in part, a rename fails. Faults hold until they are switched off; any thread
// may use the table.
#pragma once
#include <cstdint>

#include "platform/file_ops.h"

namespace pez_test {

// Faults, combined as bits.
constexpr uint32_t kOpenFails = 1;     // openAlways answers kInvalidFile
constexpr uint32_t kDiskFull = 2;      // write writes nothing and fails
constexpr uint32_t kShortWrite = 4;    // write writes the first half of its bytes and fails
constexpr uint32_t kRenameFails = 8;   // moveReplacing leaves both files as they were

const platform::FileOps& FaultyFileOps();
// The faults from now on (0: the system's behaviour).
void SetFileFaults(uint32_t faults);
// Calls that failed by a fault since the last SetFileFaults.
uint32_t FailedFileCalls();

}  // namespace pez_test
