// Platforms without a before-write file source in this host (Windows: a before-write source
// needs a file-system filter driver, which a user-mode host does not have).
#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {

std::unique_ptr<FileActivitySource> MakeBeforeWriteSource() { return nullptr; }

}  // namespace pellumhost
