// Rolls back what one process changed through the plug-in's process walk (0x2360000D): a first
// walk lists the versions the process caused, a second restores, for each file, the oldest of
// them (the content before the process first opened it). Runs on the calling thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"

namespace pellumhost {

struct RolledBackFile {
    std::u16string path;
    uint32_t versionId = 0;  // 0: a version the engine held in memory
    uint32_t result = 0;     // the restore's result code
};

// Restores every file processId changed; returns one entry per file, in walk order. walkResult
// receives the result of the first walk (0x20FF0000 when the plug-in served it).
std::vector<RolledBackFile> RollBackProcess(const PluginExports& plugin,
                                            ICommonPluginInterface* wrapper, uint32_t processId,
                                            uint32_t& walkResult);

}  // namespace pellumhost
