// The backups of a service whose file source sees changes only after they are written: a
// baseline backup of every file under the watched folder when watching starts, and a backup of
// each later change, all through the plug-in's "back up one file" (0x23600008) and bounded by
// the engine's maximum file size (0x2360000A). Every backup and change goes into the journal
// that a burst rollback reads. One lock serialises the baseline (the service's thread) with the
// changes (the source's thread).
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/change_journal.h"

namespace pellumhost {

class AfterTheFactBackup {
public:
    using Log = std::function<void(uint32_t level, const std::string& line)>;
    AfterTheFactBackup(const PluginExports& plugin, ICommonPluginInterface* wrapper, Log log);

    // Backs up every regular file under folder; returns how many the engine now holds.
    size_t Baseline(const std::string& folder);
    // writer (0: unknown) changed path, seen at `at` on the detector's clock: noted and backed up.
    void OnChange(uint32_t writer, const std::string& path, double at);

    std::vector<BurstFile> BurstOf(uint32_t writer, double flaggedAt, double windowSeconds) const;

private:
    bool BackUpLocked(const std::string& path);

    const PluginExports& m_plugin;
    ICommonPluginInterface* m_wrapper;
    Log m_log;
    uint32_t m_maxSize = 0;  // bytes; 0: the engine gave none, so nothing is bounded
    mutable std::mutex m_lock;
    ChangeJournal m_journal;
};

}  // namespace pellumhost
