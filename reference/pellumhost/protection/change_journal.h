// The journal of an after-the-fact service: the backups it took of each path and the changes
// it saw, in the order they happened, and from them the files of a flagged burst with the
// second of each file's last backup before the burst. An after-the-fact source cannot copy a
// file before it is written, so the content to bring back is the newest edition older than the
// burst's first change. The engine's editions carry whole seconds: a path is backed up again
// only in a later second than its last backup (NextBackupSecond), so that its editions older
// than a change are exactly those whose time is at most the last backup's second. A file the
// burst removed or renamed away is part of the burst like one it wrote, and comes back under
// its own path. While the host rolls a burst back, the changes its own restores cause to the
// paths being restored (and for a quiet time after) are counted and not noted. Not locked:
// the caller serialises its calls.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pellumhost {

struct BurstFile {
    std::string path;
    uint32_t lastBackupBefore = 0;  // seconds since 1970; 0: no backup before the burst
    bool gone = false;              // the burst's last change removed it or renamed it away
};

class ChangeJournal {
public:
    // The engine holds path's content as it was at some moment up to second (seconds since
    // 1970, read when the backup returned).
    void NoteBackup(const std::string& path, uint32_t second);
    // writer (0: unknown) changed path; at is the detector's clock, in seconds. Each Note
    // answers false when the change is one of the host's own restores: counted, not noted.
    bool NoteChange(uint32_t writer, const std::string& path, double at);
    // writer removed path (or moved it out of the watched folder).
    bool NoteRemoved(uint32_t writer, const std::string& path, double at);
    // writer renamed from to to: from is gone, to changed.
    bool NoteRenamed(uint32_t writer, const std::string& from, const std::string& to, double at);

    // The host begins restoring paths: changes to them are its own until OwnRestoresDone's
    // quiet time has passed. A later call adds to the paths of one still under way.
    void IgnoreOwnRestores(const std::vector<std::string>& paths);
    // The restores are done; changes to their paths are still their own up to quietUntil.
    void OwnRestoresDone(double quietUntil);
    // Changes ignored as the host's own restores since the last call; the count starts again.
    size_t TakeIgnoredCount();
    // The first second in which path may be backed up again.
    uint32_t NextBackupSecond(const std::string& path) const;

    // The burst that flagged writer at flaggedAt: its changes from the first one within
    // windowSeconds before flaggedAt, up to now; each file once, in the order first changed.
    std::vector<BurstFile> BurstOf(uint32_t writer, double flaggedAt, double windowSeconds) const;

private:
    struct Change {
        uint64_t order;
        uint32_t writer;
        std::string path;
        double at;
        bool gone;  // removed or renamed away
    };
    bool OwnRestore(const std::string& path, double at);

    uint64_t m_order = 0;
    std::set<std::string> m_restoring;  // paths of the host's own restores, under way or quiet
    bool m_restoresUnderWay = false;
    double m_quietUntil = 0;
    size_t m_ignored = 0;
    std::map<std::string, std::vector<std::pair<uint64_t, uint32_t>>> m_backups;  // (order, second)
    std::vector<Change> m_changes;
};

// Of a file's versions as its walk shows them, newest first, as (version id, time): the newest
// edition (id not 0) whose time is at most lastBackupBefore; 0 when there is none.
uint32_t EditionBefore(const std::vector<std::pair<uint32_t, uint32_t>>& versionsNewestFirst,
                       uint32_t lastBackupBefore);

}  // namespace pellumhost
