// The after-the-fact reporter: settling writes, removals and renames, and the folder read again.
#include "reference/pellumhost/protection/change_reporter.h"

#include "platform/storage_file.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

constexpr uint32_t kHeadBytes = 65536;

}  // namespace

ChangeReporter::ChangeReporter(std::u16string root, FileActivityCallbacks callbacks)
    : m_root(std::move(root)), m_callbacks(std::move(callbacks)), m_seen(TakeSnapshot(m_root)) {}

void ChangeReporter::Log(const std::string& line) {
    if (m_callbacks.log) m_callbacks.log(line);
}

void ChangeReporter::Apply(const platform::DirectoryChange& change, Clock::time_point now) {
    switch (change.action) {
        case platform::ChangeAction::kWritten:
            m_settling[change.path] = now;
            break;
        case platform::ChangeAction::kRemoved:
            m_settling.erase(change.path);
            for (const std::u16string& path : Forget(change.path)) Removed(path);
            break;
        case platform::ChangeAction::kRenamed:
            Renamed(change.from, change.path, now);
            break;
        case platform::ChangeAction::kUnwatched:
            Log("cannot watch " + platform::ToUtf8(change.path) + "; its changes are not seen");
            break;
    }
}

std::vector<std::u16string> ChangeReporter::Forget(const std::u16string& path) {
    std::vector<std::u16string> forgotten;
    const auto file = m_seen.find(path);
    if (file != m_seen.end()) {
        m_seen.erase(file);
        forgotten.push_back(path);
        return forgotten;
    }
    const std::u16string inside = path + platform::DirectoryChanges::Separator();
    for (auto it = m_seen.lower_bound(inside);
         it != m_seen.end() && it->first.compare(0, inside.size(), inside) == 0;) {
        forgotten.push_back(it->first);
        it = m_seen.erase(it);
    }
    return forgotten;
}

void ChangeReporter::Removed(const std::u16string& path) {
    if (m_callbacks.onRemoved) m_callbacks.onRemoved(0, platform::ToUtf8(path), false);
}

// Each file seen under its old name is renamed, and then written under its new one.
void ChangeReporter::Renamed(const std::u16string& from, const std::u16string& to,
                             Clock::time_point now) {
    m_settling.erase(from);
    for (const std::u16string& old : Forget(from)) {
        const std::u16string renamed = to + old.substr(from.size());
        if (m_callbacks.onRenamed)
            m_callbacks.onRenamed(0, platform::ToUtf8(old), platform::ToUtf8(renamed), false);
        m_settling[renamed] = now;
    }
    m_settling[to] = now;  // a folder is passed over when it is reported
}

void ChangeReporter::Rescan(Clock::time_point now) {
    const SnapshotDifference difference = CompareSnapshots(m_seen, TakeSnapshot(m_root));
    for (const std::u16string& path : difference.changed) m_settling[path] = now;
    for (const std::u16string& path : difference.removed) {
        m_seen.erase(path);
        m_settling.erase(path);
        Removed(path);
    }
    Log("too many changes at once: the system lost count of them, so " + platform::ToUtf8(m_root) +
        " was read again: " + std::to_string(difference.changed.size()) +
        " files new or changed, " + std::to_string(difference.removed.size()) +
        " removed since last seen");
}

void ChangeReporter::ReportSettled(Clock::time_point now) {
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
