// Platforms without a before-write source in this host yet: no file activity source.
#include "reference/pellumhost/file_activity.h"

namespace pellumhost {

std::unique_ptr<FileActivitySource> MakeFileActivitySource() { return nullptr; }

std::string ProcessImage(uint32_t /*processId*/) { return {}; }

}  // namespace pellumhost
