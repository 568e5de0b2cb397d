// The after-the-fact journal and the choice of the edition before a burst.
#include "reference/pellumhost/protection/change_journal.h"

#include <algorithm>

namespace pellumhost {

void ChangeJournal::NoteBackup(const std::string& path, uint32_t second) {
    m_backups[path].emplace_back(m_order++, second);
}

bool ChangeJournal::OwnRestore(const std::string& path, double at) {
    if (m_restoring.count(path) == 0) return false;
    if (!m_restoresUnderWay && at > m_quietUntil) {
        m_restoring.clear();
        return false;
    }
    ++m_ignored;
    return true;
}

bool ChangeJournal::NoteChange(uint32_t writer, const std::string& path, double at) {
    if (OwnRestore(path, at)) return false;
    m_changes.push_back({m_order++, writer, path, at, false});
    return true;
}

bool ChangeJournal::NoteRemoved(uint32_t writer, const std::string& path, double at) {
    if (OwnRestore(path, at)) return false;
    m_changes.push_back({m_order++, writer, path, at, true});
    return true;
}

bool ChangeJournal::NoteRenamed(uint32_t writer, const std::string& from, const std::string& to,
                                double at) {
    // A restore is written beside its target and renamed over it.
    if (OwnRestore(to, at) || OwnRestore(from, at)) return false;
    m_changes.push_back({m_order++, writer, from, at, true});
    m_changes.push_back({m_order++, writer, to, at, false});
    return true;
}

void ChangeJournal::IgnoreOwnRestores(const std::vector<std::string>& paths) {
    if (!m_restoresUnderWay) m_restoring.clear();
    m_restoring.insert(paths.begin(), paths.end());
    m_restoresUnderWay = true;
}

void ChangeJournal::OwnRestoresDone(double quietUntil) {
    m_restoresUnderWay = false;
    m_quietUntil = quietUntil;
}

size_t ChangeJournal::TakeIgnoredCount() {
    const size_t ignored = m_ignored;
    m_ignored = 0;
    return ignored;
}

uint32_t ChangeJournal::NextBackupSecond(const std::string& path) const {
    const auto found = m_backups.find(path);
    return found == m_backups.end() || found->second.empty() ? 0 : found->second.back().second + 1;
}

std::vector<BurstFile> ChangeJournal::BurstOf(uint32_t writer, double flaggedAt,
                                              double windowSeconds) const {
    const auto first = std::find_if(m_changes.begin(), m_changes.end(), [&](const Change& c) {
        return c.writer == writer && c.at >= flaggedAt - windowSeconds;
    });
    std::vector<BurstFile> burst;
    if (first == m_changes.end()) return burst;
    std::map<std::string, size_t> seen;  // path -> its place in burst
    for (auto change = first; change != m_changes.end(); ++change) {
        if (change->writer != writer) continue;
        const auto known = seen.find(change->path);
        if (known != seen.end()) {
            burst[known->second].gone = change->gone;
            continue;
        }
        seen[change->path] = burst.size();
        BurstFile file{change->path, 0, change->gone};
        const auto backups = m_backups.find(change->path);
        if (backups != m_backups.end()) {
            for (const auto& backup : backups->second)
                if (backup.first < first->order) file.lastBackupBefore = backup.second;
        }
        burst.push_back(file);
    }
    return burst;
}

uint32_t EditionBefore(const std::vector<std::pair<uint32_t, uint32_t>>& versionsNewestFirst,
                       uint32_t lastBackupBefore) {
    if (lastBackupBefore == 0) return 0;
    for (const auto& version : versionsNewestFirst)
        if (version.first != 0 && version.second <= lastBackupBefore) return version.first;
    return 0;
}

}  // namespace pellumhost
