// Starting and awaiting a separate process (the demo's rogue writer is the host itself with
// another command).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellumhost {

// Starts this program again with args; returns the new process's id, 0 on failure.
uint32_t LaunchSelf(const std::vector<std::string>& args);

// Waits for a process this program launched; returns its exit status (-1 when unknown).
int WaitForProcess(uint32_t processId);

}  // namespace pellumhost
