// Platforms where this host does not yet launch processes of its own.
#include "reference/pellumhost/process_launch.h"

namespace pellumhost {

uint32_t LaunchSelf(const std::vector<std::string>& /*args*/) { return 0; }
int WaitForProcess(uint32_t /*processId*/) { return -1; }

}  // namespace pellumhost
