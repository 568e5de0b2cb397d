// Planning a rollback: the state of each file at the moment, from the editions and the journal,
// against what is there now.
#include "reference/pellumhost/protection/rollback_plan.h"

#include <algorithm>
#include <map>

namespace pellumhost {
namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool Within(const std::u16string& path, const std::u16string& folder) {
    if (folder.empty()) return true;
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || IsSeparator(path[folder.size()]));
}

class Planner {
public:
    Planner(const RollbackQuestion& question, const std::vector<zef::Edition>& editions,
            const std::vector<ChangeEntry>& journal, const PresentTree& present)
        : m_q(question), m_journal(journal), m_present(present) {
        for (const zef::Edition& e : editions)
            if (Within(e.path, m_q.folder)) m_editions[e.path].push_back(&e);
        for (auto& entry : m_editions)
            std::sort(entry.second.begin(), entry.second.end(),
                      [](const zef::Edition* a, const zef::Edition* b) {
                          return a->time != b->time ? a->time < b->time : a->editionId < b->editionId;
                      });
    }

    std::vector<RollbackStep> Plan() {
        FoldersBack();
        FilesBack();
        Contents();
        Created();
        return std::move(m_steps);
    }

private:
    bool Limited() const { return !m_q.processIds.empty() || !m_q.image.empty(); }
    bool ByWriter(uint32_t processId, const std::u16string& image) const {
        if (!Limited()) return true;
        return m_q.processIds.count(processId) != 0 || (!m_q.image.empty() && image == m_q.image);
    }
    bool Since(const ChangeEntry& entry) const { return entry.unixMs >= m_q.toUnixMs; }
    uint32_t MomentSecond() const { return static_cast<uint32_t>(m_q.toUnixMs / 1000); }

    // The edition whose content the file had at the moment; null when none is held.
    const zef::Edition* EditionAt(const std::u16string& path) const {
        const auto found = m_editions.find(path);
        if (found == m_editions.end()) return nullptr;
        const uint32_t moment = MomentSecond();
        const zef::Edition* chosen = nullptr;
        for (const zef::Edition* e : found->second) {
            const bool beforeWrite = e->operation == zef::kOperationBeforeWrite;
            // The writer's first version about the moment holds what it found: the content
            // before its first write, whatever another process's version held.
            // An empty one is what it found after it cut the file by path, or made it: never
            // the content to bring back.
            if (Limited() && beforeWrite && ByWriter(e->processId, e->image) && e->time + 1 >= moment &&
                e->time <= moment)
                return e->size != 0 ? e : chosen;
            if (e->time > moment) break;
            // A copy taken in the moment's own second may hold the writer's bytes, unless the
            // journal shows the host's backup done before the moment.
            if (!beforeWrite && e->time == moment && Limited() && !BackedUpBefore(path)) continue;
            chosen = e;
        }
        if (chosen == nullptr && JournalBegan() > m_q.toUnixMs) return FirstSeen(path, *found->second.front());
        return chosen;
    }

    // When the journal began, in ms (0 when it is empty).
    uint64_t JournalBegan() const { return m_journal.empty() ? 0 : m_journal.front().unixMs; }

    // Before the journal began nothing is known of a file but what the service first kept of
    // it: its first edition stands for the moment when it is older than any change journaled
    // to the file (the next second, since editions keep whole seconds) and the file was not
    // made since.
    const zef::Edition* FirstSeen(const std::u16string& path, const zef::Edition& first) const {
        for (const ChangeEntry& entry : m_journal) {
            if (entry.folder || entry.kind == ChangeKind::kBackedUp) continue;
            const bool names = entry.path == path || (entry.kind == ChangeKind::kRenamed && entry.to == path);
            if (!names) continue;
            if (entry.kind == ChangeKind::kCreated || entry.to == path) return nullptr;
            return entry.unixMs / 1000 > first.time ? &first : nullptr;
        }
        return &first;
    }

    // Whether the journal shows a backup of path that returned in the moment's second, before it.
    bool BackedUpBefore(const std::u16string& path) const {
        for (const ChangeEntry& entry : m_journal)
            if (entry.kind == ChangeKind::kBackedUp && entry.path == path &&
                entry.unixMs / 1000 == MomentSecond() && entry.unixMs < m_q.toUnixMs)
                return true;
        return false;
    }

    // Whether path, which has an edition from by then, still named a file at the moment, as far
    // as the journal tells (it names changes only while a service ran): the last change to it
    // before the moment decides.
    bool ExistedAtMoment(const std::u16string& path) const {
        bool exists = true;
        for (const ChangeEntry& entry : m_journal) {
            if (Since(entry) || entry.folder || entry.kind == ChangeKind::kBackedUp) continue;
            if (entry.path == path) exists = entry.kind == ChangeKind::kWritten ||
                                             entry.kind == ChangeKind::kCreated;
            else if (entry.kind == ChangeKind::kRenamed && entry.to == path) exists = true;
        }
        return exists;
    }

    // Whether the writer changed path since the moment (any writer when none is named).
    bool TouchedSince(const std::u16string& path) const {
        for (const ChangeEntry& entry : m_journal)
            if (Since(entry) && !entry.folder && entry.kind != ChangeKind::kBackedUp &&
                ByWriter(entry.processId, entry.image) && (entry.path == path || entry.to == path))
                return true;
        const auto found = m_editions.find(path);
        if (found != m_editions.end())
            for (const zef::Edition* e : found->second)
                if (e->time + 1 >= MomentSecond() && e->operation == zef::kOperationBeforeWrite &&
                    ByWriter(e->processId, e->image) && Limited())
                    return true;
        return false;
    }

    // Names: a path as it was at the moment (the editions', and each step's, once the folders
    // renamed since are back), and a present one (what is there now, before any step).
    // The present name of a path as it was at the moment.
    std::u16string PresentName(const std::u16string& path) const {
        for (const auto& moved : m_foldersBack)
            if (Within(path, moved.first)) return moved.second + path.substr(moved.first.size());
        return path;
    }

    PresentFile LookNow(const std::u16string& path) const { return m_present.look(PresentName(path)); }

    void FoldersBack() {
        for (auto it = m_journal.rbegin(); it != m_journal.rend(); ++it) {
            const ChangeEntry& entry = *it;
            if (!entry.folder || entry.kind != ChangeKind::kRenamed || !Since(entry) ||
                !ByWriter(entry.processId, entry.image) || !Within(entry.path, m_q.folder))
                continue;
            if (m_present.look(entry.to).kind != PresentFile::kFolder ||
                m_present.look(entry.path).kind != PresentFile::kMissing)
                continue;
            m_steps.push_back({StepAction::kRenameFolderBack, entry.path, entry.to, 0,
                               "folder renamed since"});
            m_foldersBack.emplace_back(entry.path, entry.to);
        }
    }

    // A file renamed away since, whose last name holds the same bytes still, goes back by name.
    void FilesBack() {
        for (const ChangeEntry& entry : m_journal) {
            if (entry.folder || entry.kind != ChangeKind::kRenamed || !Since(entry) ||
                !ByWriter(entry.processId, entry.image) || !Within(entry.path, m_q.folder) ||
                m_settled.count(entry.path) != 0)
                continue;
            const zef::Edition* then = EditionAt(entry.path);
            if (then == nullptr || !ExistedAtMoment(entry.path) ||
                LookNow(entry.path).kind != PresentFile::kMissing)
                continue;
            // The last name is a present one; the step names it as it will be once the
            // folders are back.
            const std::u16string last = LastNameOf(entry);
            const std::u16string from = OriginalName(last);
            const PresentFile now = m_present.look(last);
            zef::Digest digest{};
            if (now.kind != PresentFile::kFile || now.size != then->size || m_used.count(from) != 0 ||
                !m_present.digestOf(last, digest) || digest != then->digest)
                continue;
            m_steps.push_back({StepAction::kRenameBack, entry.path, from, 0, "renamed since"});
            m_settled.insert(entry.path);
            m_used.insert(from);
        }
    }

    // Follows a file's renames after entry to its last name.
    std::u16string LastNameOf(const ChangeEntry& first) const {
        std::u16string name = first.to;
        bool after = false;
        for (const ChangeEntry& entry : m_journal) {
            if (&entry == &first) { after = true; continue; }
            if (after && !entry.folder && entry.kind == ChangeKind::kRenamed && entry.path == name)
                name = entry.to;
        }
        return name;
    }

    void Contents() {
        std::set<std::u16string> paths;
        for (const auto& entry : m_editions) paths.insert(entry.first);
        for (const std::u16string& path : paths) {
            if (m_settled.count(path) != 0) continue;
            if (Limited() && !TouchedSince(path)) continue;
            const zef::Edition* then = EditionAt(path);
            if (then == nullptr || !ExistedAtMoment(path)) continue;
            const PresentFile now = LookNow(path);
            const char* why = now.kind == PresentFile::kMissing ? "removed since" : "changed since";
            if (now.kind == PresentFile::kFile && now.size == then->size) {
                zef::Digest digest{};
                if (m_present.digestOf(PresentName(path), digest) && digest == then->digest) {
                    m_settled.insert(path);
                    continue;  // as it was
                }
            }
            if (now.kind == PresentFile::kFolder || now.kind == PresentFile::kOther) {
                m_steps.push_back({StepAction::kNoContent, path, {}, then->editionId,
                                   "a folder or another kind of file stands in its place"});
                continue;
            }
            const bool readable = then->state == zef::kContentIntact;
            m_steps.push_back({readable ? StepAction::kRestore : StepAction::kNoContent, path, {},
                               then->editionId,
                               readable ? why : "its edition's content is damaged or missing"});
            m_settled.insert(path);
        }
    }

    // Files there now that did not exist at the moment and that the writer made since: created
    // or renamed there by it, or written by it with no edition older than the moment. A file it
    // only wrote, with no edition at all, is named, never moved: nothing tells it was new.
    void Created() {
        std::set<std::u16string> made, written;
        for (const ChangeEntry& entry : m_journal) {
            if (entry.folder || !Since(entry) || !ByWriter(entry.processId, entry.image)) continue;
            if (entry.kind == ChangeKind::kCreated) made.insert(entry.path);
            else if (entry.kind == ChangeKind::kRenamed) made.insert(entry.to);
            else if (entry.kind == ChangeKind::kWritten) written.insert(entry.path);
        }
        for (const std::u16string& file : m_present.files) {
            const std::u16string original = OriginalName(file);
            if (m_settled.count(original) != 0 || m_used.count(original) != 0) continue;
            if (EditionAt(original) != nullptr && ExistedAtMoment(original)) continue;
            const bool wrote = written.count(file) != 0 || written.count(original) != 0;
            const bool isNew = made.count(file) != 0 || made.count(original) != 0 ||
                               ((wrote || !Limited()) && NewSince(original));
            if (isNew)
                m_steps.push_back({m_q.quarantine ? StepAction::kQuarantine : StepAction::kLeaveCreated,
                                   original, file, 0, "created since"});
            else if (wrote)
                m_steps.push_back({StepAction::kNoContent, original, {}, 0,
                                   "changed since, but no edition from before the change is kept"});
        }
    }

    // A file with no journal entry is new since the moment when its first edition is later,
    // provided the journal ran by then: a service started after the moment backs up what was
    // already there after it, and that is no sign of a new file.
    bool NewSince(const std::u16string& path) const {
        const auto found = m_editions.find(path);
        if (found == m_editions.end() || JournalBegan() == 0 || JournalBegan() > m_q.toUnixMs)
            return false;
        const uint32_t first = found->second.front()->time;
        return first > MomentSecond() || (first == MomentSecond() && !BackedUpBefore(path));
    }

    // The name a present file will have once the folders go back.
    std::u16string OriginalName(const std::u16string& present) const {
        for (const auto& moved : m_foldersBack)
            if (Within(present, moved.second)) return moved.first + present.substr(moved.second.size());
        return present;
    }

    const RollbackQuestion& m_q;
    const std::vector<ChangeEntry>& m_journal;
    const PresentTree& m_present;
    std::map<std::u16string, std::vector<const zef::Edition*>> m_editions;
    std::vector<std::pair<std::u16string, std::u16string>> m_foldersBack;  // (then, now)
    std::set<std::u16string> m_settled;  // paths whose step is planned, or that are as they were
    std::set<std::u16string> m_used;     // present names a rename back takes
    std::vector<RollbackStep> m_steps;
};

}  // namespace

std::vector<RollbackStep> PlanRollback(const RollbackQuestion& question,
                                       const std::vector<zef::Edition>& editions,
                                       const std::vector<ChangeEntry>& journal,
                                       const PresentTree& present) {
    return Planner(question, editions, journal, present).Plan();
}

const char* StepActionName(StepAction action) {
    switch (action) {
        case StepAction::kRenameFolderBack: return "rename folder back";
        case StepAction::kRenameBack: return "rename back";
        case StepAction::kRestore: return "restore";
        case StepAction::kQuarantine: return "quarantine";
        case StepAction::kLeaveCreated: return "leave";
        case StepAction::kNoContent: return "cannot restore";
    }
    return "?";
}

}  // namespace pellumhost
