// The after-the-fact file activity source, the same on every platform over its directory change
// reader. A written file is reported once it has been quiet for kSettle (Windows tells of a
// write while it happens, often more than once); a removal or a rename is reported at once,
// and a file renamed while it settles is reported under its new name. The source keeps the
// size and write time of every file it saw, so that a removed folder names its files and, when
// the system loses count of the changes, the folder read again tells what changed. One thread
// reads the changes and runs the callbacks, and alone touches what the source keeps. The
// system does not tell the writer, so every change is reported for process 0.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "platform/directory_changes.h"
#include "platform/storage_file.h"
#include "platform/text.h"
#include "reference/pellumhost/file_activity.h"
#include "reference/pellumhost/folder_snapshot.h"

namespace pellumhost {
namespace {

constexpr uint32_t kHeadBytes = 65536;
constexpr auto kSettle = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

class AfterTheFactSource final : public FileActivitySource {
public:
    ~AfterTheFactSource() override { Stop(); }
    const char* Kind() const override { return "after-the-fact"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        m_root = platform::FromUtf8(folder);
        const char16_t separator = platform::DirectoryChanges::Separator();
        while (m_root.size() > 1 && (m_root.back() == separator || m_root.back() == u'/'))
            m_root.pop_back();
        if (!m_changes.Open(m_root, error)) return false;
        m_callbacks = std::move(callbacks);
        m_seen = TakeSnapshot(m_root);
        m_running = true;
        m_reader = std::thread([this] { ReadLoop(); });
        return true;
    }

    void Stop() override {
        if (!m_running.exchange(false)) return;
        m_changes.Wake();
        m_reader.join();
        m_changes.Close();
    }

private:
    void Log(const std::string& line) {
        if (m_callbacks.log) m_callbacks.log(line);
    }

    void ReadLoop() {
        std::vector<platform::DirectoryChange> changes;
        while (m_running) {
            changes.clear();
            const platform::ChangesRead read = m_changes.Read(m_settling.empty() ? 1000 : 20, changes);
            for (const platform::DirectoryChange& change : changes) Apply(change);
            if (read == platform::ChangesRead::kOverflow) Rescan();
            if (read == platform::ChangesRead::kGone)
                Log("the watched folder " + platform::ToUtf8(m_root) +
                    " is gone or cannot be read any more; nothing more is seen");
            ReportSettled();
        }
    }

    void Apply(const platform::DirectoryChange& change) {
        switch (change.action) {
            case platform::ChangeAction::kWritten:
                m_settling[change.path] = Clock::now();
                break;
            case platform::ChangeAction::kRemoved:
                m_settling.erase(change.path);
                for (const std::u16string& path : Forget(change.path)) Removed(path);
                break;
            case platform::ChangeAction::kRenamed:
                Renamed(change.from, change.path);
                break;
            case platform::ChangeAction::kUnwatched:
                Log("cannot watch " + platform::ToUtf8(change.path) + "; its changes are not seen");
                break;
        }
    }

    // The files seen at path, or under it when it was a folder, forgotten; their paths.
    std::vector<std::u16string> Forget(const std::u16string& path) {
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

    void Removed(const std::u16string& path) {
        if (m_callbacks.onRemoved) m_callbacks.onRemoved(0, platform::ToUtf8(path));
    }

    // Each file seen under its old name is renamed, and then written under its new one.
    void Renamed(const std::u16string& from, const std::u16string& to) {
        const auto now = Clock::now();
        m_settling.erase(from);
        for (const std::u16string& old : Forget(from)) {
            const std::u16string renamed = to + old.substr(from.size());
            if (m_callbacks.onRenamed)
                m_callbacks.onRenamed(0, platform::ToUtf8(old), platform::ToUtf8(renamed));
            m_settling[renamed] = now;
        }
        m_settling[to] = now;  // a folder is passed over when it is reported
    }

    // The system lost count: the folder read again against what was seen tells what changed.
    void Rescan() {
        const SnapshotDifference difference = CompareSnapshots(m_seen, TakeSnapshot(m_root));
        const auto now = Clock::now();
        for (const std::u16string& path : difference.changed) m_settling[path] = now;
        for (const std::u16string& path : difference.removed) {
            m_seen.erase(path);
            Removed(path);
        }
        Log("too many changes at once: the system lost count of them, so " +
            platform::ToUtf8(m_root) + " was read again: " +
            std::to_string(difference.changed.size()) + " files new or changed, " +
            std::to_string(difference.removed.size()) + " removed since last seen");
    }

    void ReportSettled() {
        const auto now = Clock::now();
        for (auto it = m_settling.begin(); it != m_settling.end();) {
            if (now - it->second < kSettle) {
                ++it;
                continue;
            }
            Report(it->first);
            it = m_settling.erase(it);
        }
    }

    void Report(const std::u16string& path) {
        SeenFile seen;
        if (platform::IsFolder(path.c_str()) ||
            !platform::FileStamp(path.c_str(), &seen.size, &seen.writeTime))
            return;  // a folder, or gone again: nothing to back up
        const platform::FileHandle file = platform::OpenForReading(path.c_str());
        if (file == platform::kInvalidFile) return;  // locked: nothing to back up
        std::vector<uint8_t> head(kHeadBytes);
        uint32_t held = 0, got = 0;
        while (held < kHeadBytes && platform::ReadSome(file, head.data() + held, kHeadBytes - held, &got) &&
               got != 0)
            held += got;
        platform::CloseFile(file);
        head.resize(held);
        m_seen[path] = seen;
        m_callbacks.onWritten(0, platform::ToUtf8(path), head);
    }

    std::u16string m_root;
    platform::DirectoryChanges m_changes;
    std::atomic<bool> m_running{false};
    std::thread m_reader;
    std::map<std::u16string, Clock::time_point> m_settling;  // written, reported once quiet
    FolderSnapshot m_seen;
    FileActivityCallbacks m_callbacks;
};

}  // namespace

std::unique_ptr<FileActivitySource> MakeAfterTheFactSource() {
    return std::make_unique<AfterTheFactSource>();
}

}  // namespace pellumhost
