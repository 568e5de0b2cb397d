// Starting, awaiting and ending a separate process (a program of the host's, such as the
// demo's rogue writer). Any thread may call these; a process is awaited by one caller.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr int kStillRunning = -2;

// Starts the program at path (full) with args (UTF-8); returns the new process's id, 0 on
// failure.
uint32_t LaunchProgram(const std::u16string& path, const std::vector<std::string>& args);

// Waits at most timeoutMs for a process this program launched; returns its exit status,
// kStillRunning when it has not ended in time, -1 when unknown.
int WaitForProcess(uint32_t processId, uint32_t timeoutMs = kWaitForever);

// Ends a process this program launched, and reaps it; false when it could not be ended.
bool KillProcess(uint32_t processId);

}  // namespace platform
