// The parent of another process, as the system tells it.
#pragma once
#include <cstdint>

namespace platform {

// The id of the process that started processId; 0 when the system does not tell it (process
// 0, a process gone, or one whose parent is unknown). Reads the system's process table each
// call: a caller that asks often keeps the answers.
uint32_t ParentProcessId(uint32_t processId);

}  // namespace platform
