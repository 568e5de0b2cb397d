// The image path of another process, as the system tells it, in the host's UTF-8.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

// The image path of a process (UTF-8), empty when the system does not tell it. Kept a second
// per process id: the steps of one event (the detector's lineage, the change journal, the
// engine's question through the host) ask for the same writer's image, and each read is a
// system call. A second is short enough for the id to still name the same process: Linux
// hands ids out in turn, so one comes back only after pid_max others were started (the
// detector's lineage, which keeps actors longer, checks each process's start). Safe from any
// thread.
std::string ProcessImage(uint32_t processId);

}  // namespace pellumhost
