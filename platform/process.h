// Identity of the running process and thread.
#pragma once
#include <cstdint>

namespace platform {

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
// True when no thread of this process has this id any more. An ended thread's id that a later
// thread of the process took again answers false. Any thread; a system call each time.
bool ThreadEnded(uint32_t threadId);

}  // namespace platform
