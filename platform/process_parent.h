// The parent of another process, and when it started, as the system tells them.
#pragma once
#include <cstdint>

namespace platform {

// The id of the process that started processId; 0 when the system does not tell it (process
// 0, a process gone, or one whose parent is unknown). Reads the system's process table each
// call: a caller that asks often keeps the answers.
uint32_t ParentProcessId(uint32_t processId);

// When processId started, in the system's own units (clock ticks since boot on Linux, a
// FILETIME on Windows); 0 when the system does not tell it. A process id reused by another
// process comes with another start: a caller that keeps facts per process id checks it.
uint64_t ProcessStartTime(uint32_t processId);

}  // namespace platform
