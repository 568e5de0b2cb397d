// The after-the-fact journal and the choice of the edition before a burst.
#include "reference/pellumhost/change_journal.h"

#include <algorithm>
#include <set>

namespace pellumhost {

void ChangeJournal::NoteBackup(const std::string& path, uint32_t second) {
    m_backups[path].emplace_back(m_order++, second);
}

void ChangeJournal::NoteChange(uint32_t writer, const std::string& path, double at) {
    m_changes.push_back({m_order++, writer, path, at});
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
    std::set<std::string> seen;
    for (auto change = first; change != m_changes.end(); ++change) {
        if (change->writer != writer || !seen.insert(change->path).second) continue;
        BurstFile file{change->path, 0};
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
