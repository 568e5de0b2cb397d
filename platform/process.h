// Identity of the running process and thread.
#pragma once
#include <cstdint>

namespace platform {

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
// True when no thread of this process has this id any more. An ended thread's id that a later
// thread of the process took again answers false. Any thread; a system call each time.
bool ThreadEnded(uint32_t threadId);
// Makes every file and folder this process creates from now on its user's alone (umask 077 on
// Linux: folders 0700, files 0600, unless a call gives a mode explicitly). Windows: nothing to
// do, a new file takes its folder's access list.
void KeepNewFilesPrivate();

}  // namespace platform
