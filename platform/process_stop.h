// Ending another process: for a host that stops a process it caught (the plug-in never does).
#pragma once
#include <cstdint>

namespace platform {

// Ends the process at once (SIGKILL; TerminateProcess with exit code 1); false when it cannot
// be ended (gone already, or not ours to end).
bool TerminateProcessById(uint32_t processId);

}  // namespace platform
