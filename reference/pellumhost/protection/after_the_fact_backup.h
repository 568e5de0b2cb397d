// The backups of a service whose file source sees changes only after they are written: a
// baseline backup of every file under the watched folder when watching starts, and a backup of
// each later change, all through the plug-in's "back up one file" (0x23600008) and bounded by
// the engine's maximum file size (0x2360000A). Every backup, change, removal and rename goes
// into the journal; a rollback's own restores are not judged, noted or backed up. One lock serialises the baseline and the rollback (the service's thread)
// with the changes (the source's thread); it is not held while a rollback restores.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/protection/own_restores.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/process_rollback.h"
#include "reference/pellumhost/protection/rollback_steps.h"

namespace pellumhost {

// After a burst rollback, changes to the restored paths are still its own for this long.
constexpr double kOwnRestoreQuietSeconds = 1.0;

class AfterTheFactBackup {
public:
    using Log = std::function<void(uint32_t level, const std::string& line)>;
    AfterTheFactBackup(const PluginExports& plugin, ICommonPluginInterface* wrapper, Log log);

    // Backs up every regular file under folder; returns how many the engine now holds. A link
    // is not followed (the log names each one skipped). Ends early, with a log line, once the
    // stop check says a stop was requested.
    size_t Baseline(const std::string& folder);
    // A check asked between two backups, so that a long baseline answers a stop request at
    // once; called on the baseline's thread.
    void StopWhen(std::function<bool()> requested) { m_stopRequested = std::move(requested); }
    // Called with each change seen after the fact that is not the host's own, before it is
    // backed up (under the lock; keep it short): a journal then has the change before its copy.
    void OnChangeSeen(std::function<void(const std::string& path)> seen) { m_changeSeen = std::move(seen); }
    bool BacksUpChanges() const { return m_backUpChanges; }
    // Called with each path once its backup has returned, with that moment in milliseconds
    // since 1970 (under the lock; keep it short).
    void OnBackedUp(std::function<void(const std::string& path, uint64_t unixMs)> backedUp) {
        m_backedUp = std::move(backedUp);
    }
    // path changed, seen at `at` on the detector's clock: backed up. False when it is one of
    // the host's own restores (then nothing is done).
    bool OnChange(const std::string& path, double at);
    // Told each regular file the baseline finds, before it is backed up (the detector's memory
    // of what existed); called on the baseline's thread under this object's lock.
    void NoteBaseline(std::function<void(const std::string& path)> note) { m_noteBaseline = std::move(note); }

    // Callbacks for a file activity source: once BackUpChanges(true), each write, removal and
    // rename is noted before it goes on to next's callback of the same kind (a write is backed
    // up after it), and the host's own restores stop here. This object must outlive the source.
    FileActivityCallbacks Watching(const FileActivityCallbacks& next);
    void BackUpChanges(bool on) { m_backUpChanges = on; }
    // True while a change is being noted or backed up (a backup may wait up to a second for
    // its path's next second): the source's changes are not all handled yet.
    bool Busy() const { return m_handling > 0; }

    // Runs a rollback's steps (run) as the host's own restores: changes to the steps' paths are
    // not noted nor judged while they run and for kOwnRestoreQuietSeconds after, and each path
    // brought back is backed up afterwards as its newest content (when changes are backed up).
    std::vector<StepResult> AsOwnRestores(const std::vector<RollbackStep>& steps,
                                          const std::function<std::vector<StepResult>()>& run);
    // Waits out the quiet time after AsOwnRestores, then says in the log how many changes were
    // ignored as the host's own restores, and returns that count.
    size_t EndOwnRestores();

private:
    bool BackUpLocked(const std::string& path);
    // A change to path seen at `at`: false when it is the host's own restore, else journaled.
    bool Seen(const std::string& path, double at);
    // False when a removal of path (or a rename from path to other) is the host's own restore.
    bool Others(const std::string& path, const std::string& other, double at);

    const PluginExports& m_plugin;
    ICommonPluginInterface* m_wrapper;
    Log m_log;
    std::function<bool()> m_stopRequested;
    std::function<void(const std::string& path, uint64_t unixMs)> m_backedUp;
    std::function<void(const std::string& path)> m_changeSeen;
    std::function<void(const std::string& path)> m_noteBaseline;
    uint32_t m_maxSize = 0;  // bytes; 0: the engine gave none, so nothing is bounded
    std::atomic<bool> m_backUpChanges{false};
    std::atomic<int> m_handling{0};
    mutable std::mutex m_lock;
    OwnRestores m_ownRestores;
    // A path's editions must be a second apart for a rollback to tell those before a moment
    // from those after it: the second of each path's last backup.
    std::map<std::string, uint32_t> m_lastBackupSecond;
    double m_quietUntil = 0;  // the service's thread's alone
    size_t m_restoredPaths = 0;
};

}  // namespace pellumhost
