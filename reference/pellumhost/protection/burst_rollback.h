// Rolls back a flagged burst of changes seen after the fact: each file changed in the burst is
// restored from the newest edition older than the burst's first change, found with the file's
// version walk (0x23600007) and restored by edition (0x23600005, which writes the restore
// report). Runs on the calling thread.
#pragma once
#include <cstdint>
#include <vector>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/protection/change_journal.h"
#include "reference/pellumhost/protection/process_rollback.h"

namespace pellumhost {

// The result of a file for which no edition older than the burst is held (the plug-in's
// VELK_ZEF_NO_VALID_BACKUP).
constexpr uint32_t kNoEditionBeforeBurst = 0xE0360003;

// One entry per file of the burst, in its order.
std::vector<RolledBackFile> RollBackBurst(const PluginExports& plugin,
                                          ICommonPluginInterface* wrapper,
                                          const std::vector<BurstFile>& burst);

}  // namespace pellumhost
