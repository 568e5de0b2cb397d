// Rolls back what one process changed through the plug-in's process walk (0x2360000D): a first
// walk lists the versions the process caused, a second restores, for each file, the oldest of
// them (the content before the process first opened it). Runs on the calling thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"

namespace pellumhost {

struct RolledBackFile {
    std::u16string path;
    uint32_t versionId = 0;  // 0: a version the engine held in memory
    uint32_t result = 0;     // the restore's result code
};

// Called after each file's restore with the files done and the files to restore.
using RollbackProgress = std::function<void(size_t done, size_t total)>;

// Restores every file processId changed; returns one entry per file, in walk order. walkResult
// receives the result of the first walk (0x20FF0000 when the plug-in served it).
std::vector<RolledBackFile> RollBackProcess(const PluginExports& plugin,
                                            ICommonPluginInterface* wrapper, uint32_t processId,
                                            uint32_t& walkResult,
                                            const RollbackProgress& progress = {});

}  // namespace pellumhost
