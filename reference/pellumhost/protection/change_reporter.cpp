// The after-the-fact reporter: creations, settling writes, removals and renames of files and
// folders, and the folder read again.
#include "reference/pellumhost/protection/change_reporter.h"

#include "platform/storage_file.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

constexpr uint32_t kHeadBytes = 65536;

// Takes folder and the folders below it out of folders, and returns them.
std::vector<std::u16string> TakeFolders(std::set<std::u16string>& folders, const std::u16string& folder) {
    std::vector<std::u16string> taken;
    if (folders.erase(folder) != 0) taken.push_back(folder);
    const std::u16string inside = folder + platform::DirectoryChanges::Separator();
    for (auto it = folders.lower_bound(inside);
         it != folders.end() && it->compare(0, inside.size(), inside) == 0;) {
        taken.push_back(*it);
        it = folders.erase(it);
    }
    return taken;
}

}  // namespace

ChangeReporter::ChangeReporter(std::u16string root, FileActivityCallbacks callbacks)
    : m_root(std::move(root)),
      m_callbacks(std::move(callbacks)),
      m_seen(TakeSnapshot(m_root, &m_folders)) {}

void ChangeReporter::Log(const std::string& line) {
    if (m_callbacks.log) m_callbacks.log(line);
}

void ChangeReporter::Apply(const platform::DirectoryChange& change, Clock::time_point now) {
    switch (change.action) {
        case platform::ChangeAction::kCreated:
            Created(change.path, now);
            break;
        case platform::ChangeAction::kWritten:
            m_settling[change.path] = now;
            break;
        case platform::ChangeAction::kRemoved:
            m_settling.erase(change.path);
            if (m_seen.count(change.path) != 0 && m_folders.count(change.path) == 0) {
                m_seen.erase(change.path);
                m_removing[change.path] = now;
            } else {
                RemovedTree(change.path);
            }
            break;
        case platform::ChangeAction::kRenamed:
            Renamed(change.from, change.path, now);
            break;
        case platform::ChangeAction::kUnwatched:
            Log("cannot watch " + platform::ToUtf8(change.path) + "; its changes are not seen");
            break;
    }
}

void ChangeReporter::Created(const std::u16string& path, Clock::time_point now) {
    const std::u16string parent = path.substr(0, path.rfind(platform::DirectoryChanges::Separator()));
    SeenFile there;
    if (parent != m_root && m_folders.count(parent) == 0 && !platform::IsFolder(path.c_str()) &&
        !platform::FileStamp(path.c_str(), &there.size, &there.writeTime))
        return;  // under a folder gone (a reader may still tell of one moved out): not in the tree
    if (platform::IsFolder(path.c_str())) {
        if (m_folders.insert(path).second && m_callbacks.onCreated)
            m_callbacks.onCreated(0, platform::ToUtf8(path), true);
        return;
    }
    m_settling[path] = now;
    if (m_removing.count(path) != 0) return;  // made again: told with its removal
    if (!m_seen.emplace(path, SeenFile{}).second) return;  // told again: only a write
    if (m_callbacks.onCreated) m_callbacks.onCreated(0, platform::ToUtf8(path), false);
}

FolderSnapshot ChangeReporter::Forget(const std::u16string& path) {
    FolderSnapshot forgotten;
    const auto file = m_seen.find(path);
    if (file != m_seen.end()) {
        forgotten.insert(*file);
        m_seen.erase(file);
        return forgotten;
    }
    const std::u16string inside = path + platform::DirectoryChanges::Separator();
    for (auto it = m_seen.lower_bound(inside);
         it != m_seen.end() && it->first.compare(0, inside.size(), inside) == 0;) {
        forgotten.insert(*it);
        it = m_seen.erase(it);
    }
    return forgotten;
}

void ChangeReporter::RemovedTree(const std::u16string& path) {
    // The removals still held of files in it are told first: a folder goes after its files.
    const std::u16string inside = path + platform::DirectoryChanges::Separator();
    for (auto it = m_removing.lower_bound(inside);
         it != m_removing.end() && it->first.compare(0, inside.size(), inside) == 0;) {
        Removed(it->first, false);
        m_settling.erase(it->first);
        it = m_removing.erase(it);
    }
    const FolderSnapshot files = Forget(path);
    const bool folder = !files.empty() && files.begin()->first != path;
    for (const auto& file : files) Removed(file.first, false);
    if (!TakeFolders(m_folders, path).empty() || folder) Removed(path, true);
}

void ChangeReporter::Removed(const std::u16string& path, bool folder) {
    if (m_callbacks.onRemoved) m_callbacks.onRemoved(0, platform::ToUtf8(path), folder);
}

// A folder is renamed as a folder first; each file seen under its old name is renamed, and
// then written under its new one.
void ChangeReporter::Renamed(const std::u16string& from, const std::u16string& to,
                             Clock::time_point now) {
    // A removal still held is told before anything takes its name.
    if (m_removing.erase(to) != 0) Removed(to, false);
    m_settling.erase(from);
    const bool folder = m_folders.count(from) != 0 || platform::IsFolder(to.c_str());
    if (folder) {
        m_folders.insert(to);
        for (const std::u16string& below : TakeFolders(m_folders, from))
            m_folders.insert(to + below.substr(from.size()));
        if (m_callbacks.onRenamed)
            m_callbacks.onRenamed(0, platform::ToUtf8(from), platform::ToUtf8(to), true);
    }
    for (const auto& old : Forget(from)) {
        const std::u16string renamed = to + old.first.substr(from.size());
        if (m_callbacks.onRenamed)
            m_callbacks.onRenamed(0, platform::ToUtf8(old.first), platform::ToUtf8(renamed), false);
        m_seen[renamed] = old.second;  // seen under its new name, so that its removal is told
        m_settling[renamed] = now;
    }
    if (!folder) m_settling[to] = now;
}

void ChangeReporter::Rescan(Clock::time_point now) {
    for (const auto& removed : m_removing) Removed(removed.first, false);
    m_removing.clear();
    std::set<std::u16string> folders;
    const FolderSnapshot found = TakeSnapshot(m_root, &folders);
    const SnapshotDifference difference = CompareSnapshots(m_seen, found);
    for (const std::u16string& folder : folders)
        if (m_folders.count(folder) == 0 && m_callbacks.onCreated)
            m_callbacks.onCreated(0, platform::ToUtf8(folder), true);
    for (const std::u16string& path : difference.changed) {
        m_settling[path] = now;
        if (m_seen.emplace(path, SeenFile{}).second && m_callbacks.onCreated)
            m_callbacks.onCreated(0, platform::ToUtf8(path), false);
    }
    for (const std::u16string& path : difference.removed) {
        m_seen.erase(path);
        m_settling.erase(path);
        Removed(path, false);
    }
    for (const std::u16string& folder : m_folders)
        if (folders.count(folder) == 0) Removed(folder, true);
    m_folders = std::move(folders);
    Log("too many changes at once: the system lost count of them, so " + platform::ToUtf8(m_root) +
        " was read again: " + std::to_string(difference.changed.size()) +
        " files new or changed, " + std::to_string(difference.removed.size()) +
        " removed since last seen");
}

void ChangeReporter::ReportSettled(Clock::time_point now) {
    for (auto it = m_removing.begin(); it != m_removing.end();) {
        if (now - it->second < kSettle) {
            ++it;
            continue;
        }
        const std::u16string path = it->first;
        it = m_removing.erase(it);
        Removed(path, false);
        const auto again = m_settling.find(path);
        if (again == m_settling.end()) continue;
        m_settling.erase(again);
        m_seen.emplace(path, SeenFile{});
        if (m_callbacks.onCreated) m_callbacks.onCreated(0, platform::ToUtf8(path), false);
        Report(path);
    }
    for (auto it = m_settling.begin(); it != m_settling.end();) {
        if (now - it->second < kSettle) {
            ++it;
            continue;
        }
        Report(it->first);
        it = m_settling.erase(it);
    }
}

void ChangeReporter::Report(const std::u16string& path) {
    SeenFile seen;
    if (platform::IsFolder(path.c_str()) ||
        !platform::FileStamp(path.c_str(), &seen.size, &seen.writeTime))
        return;  // a folder, or gone again: nothing to back up
    const platform::FileHandle file = platform::OpenForReading(path.c_str());
    if (file == platform::kInvalidFile) return;  // locked: nothing to back up
    std::vector<uint8_t> head(kHeadBytes);
    uint32_t held = 0, got = 0;
    while (held < kHeadBytes &&
           platform::ReadSome(file, head.data() + held, kHeadBytes - held, &got) && got != 0)
        held += got;
    platform::CloseFile(file);
    head.resize(held);
    m_seen[path] = seen;
    if (m_callbacks.onWritten) m_callbacks.onWritten(0, platform::ToUtf8(path), head);
}

}  // namespace pellumhost
