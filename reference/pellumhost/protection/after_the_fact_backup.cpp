// Baseline and change backups through CallFunc, spaced a second apart per path, and the
// rollback steps run as the host's own restores.
#include "reference/pellumhost/protection/after_the_fact_backup.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/protection/change_log.h"
#include "reference/pellumhost/protection/rogue_detector.h"

namespace pellumhost {

AfterTheFactBackup::AfterTheFactBackup(const PluginExports& plugin, ICommonPluginInterface* wrapper,
                                       Log log)
    : m_plugin(plugin), m_wrapper(wrapper), m_log(std::move(log)) {
    if (m_plugin.CallFunc(m_wrapper, velk::kFnMaxFileSize, nullptr, &m_maxSize) != velk::kSuccess)
        m_maxSize = 0;
}

size_t AfterTheFactBackup::Baseline(const std::string& folder) {
    size_t held = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (m_stopRequested && m_stopRequested()) {
            m_log(2, "the baseline of " + folder + " stopped after " + std::to_string(held) +
                         " files: a stop was requested");
            return held;
        }
        // A link is never followed: it could name any file of the machine, and the service
        // (root) would copy it into the database.
        if (it->is_symlink(ec)) {
            m_log(2, it->path().string() + " is not backed up: it is a link, which is not followed");
            continue;
        }
        if (!it->is_regular_file(ec)) continue;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_noteBaseline) m_noteBaseline(it->path().string());
        if (BackUpLocked(it->path().string())) ++held;
    }
    if (ec) m_log(3, "the baseline stopped early: " + folder + " cannot be listed (" + ec.message() + ")");
    return held;
}

bool AfterTheFactBackup::OnChange(const std::string& path, double at) {
    if (!Seen(path, at)) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    BackUpLocked(path);
    return true;
}

bool AfterTheFactBackup::Seen(const std::string& path, double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_ownRestores.IsOwn(path, at)) return false;
    if (m_changeSeen) m_changeSeen(path);
    return true;
}

bool AfterTheFactBackup::Others(const std::string& path, const std::string& other, double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    // A restore is written beside its target and renamed over it: either name may be the host's.
    return !m_ownRestores.IsOwn(path, at) && (other.empty() || !m_ownRestores.IsOwn(other, at));
}

namespace {

// Counts a change as being handled for as long as it lives.
class Handling {
public:
    explicit Handling(std::atomic<int>& count) : m_count(count) { ++m_count; }
    ~Handling() { --m_count; }
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    std::atomic<int>& m_count;
};

}  // namespace

FileActivityCallbacks AfterTheFactBackup::Watching(const FileActivityCallbacks& next) {
    FileActivityCallbacks callbacks = next;
    callbacks.onWritten = [this, next](uint32_t writer, const std::string& path,
                                       const std::vector<uint8_t>& head) {
        const Handling handling(m_handling);
        // Journaled and judged as soon as seen; the copy, which may wait for the next second,
        // comes after (a rollback waits while it is Busy).
        if (m_backUpChanges && !Seen(path, DetectorSeconds())) return;
        if (next.onWritten) next.onWritten(writer, path, head);
        if (!m_backUpChanges) return;
        std::lock_guard<std::mutex> guard(m_lock);
        BackUpLocked(path);
    };
    callbacks.onRemoved = [this, next](uint32_t writer, const std::string& path, bool folder) {
        const Handling handling(m_handling);
        if (m_backUpChanges && !Others(path, {}, DetectorSeconds())) return;
        if (next.onRemoved) next.onRemoved(writer, path, folder);
    };
    callbacks.onRenamed = [this, next](uint32_t writer, const std::string& from,
                                       const std::string& to, bool folder) {
        const Handling handling(m_handling);
        if (m_backUpChanges && !Others(from, to, DetectorSeconds())) return;
        if (next.onRenamed) next.onRenamed(writer, from, to, folder);
    };
    return callbacks;
}

std::vector<StepResult> AfterTheFactBackup::AsOwnRestores(
    const std::vector<RollbackStep>& steps, const std::function<std::vector<StepResult>()>& run) {
    std::vector<std::string> paths;
    for (const RollbackStep& step : steps) {
        paths.push_back(platform::ToUtf8(step.path));
        if (!step.from.empty()) paths.push_back(platform::ToUtf8(step.from));
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ownRestores.Begin(paths);
    }
    const std::vector<StepResult> results = run();
    const double quietUntil = DetectorSeconds() + kOwnRestoreQuietSeconds;
    {
        // What was brought back becomes each file's newest backup: a later burst is then rolled
        // back to it, not to what this one wrote.
        std::lock_guard<std::mutex> guard(m_lock);
        m_ownRestores.Done(quietUntil);
        for (const StepResult& result : results)
            if (m_backUpChanges && StepSucceeded(result) &&
                (result.step.action == StepAction::kRestore || result.step.action == StepAction::kRenameBack))
                BackUpLocked(platform::ToUtf8(result.step.path));
    }
    m_quietUntil = quietUntil;
    m_restoredPaths = paths.size();
    return results;
}

size_t AfterTheFactBackup::EndOwnRestores() {
    while (DetectorSeconds() < m_quietUntil) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    size_t ignored;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ignored = m_ownRestores.TakeIgnoredCount();
    }
    char quiet[16];
    std::snprintf(quiet, sizeof quiet, "%.1f", kOwnRestoreQuietSeconds);
    m_log(2, "burst rollback: " + std::to_string(ignored) + " changes to the " +
                 std::to_string(m_restoredPaths) + " files restored were ignored as the host's "
                 "own restores (while restoring and " + quiet + " s after)");
    return ignored;
}

bool AfterTheFactBackup::BackUpLocked(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_status entry = std::filesystem::symlink_status(path, ec);
    if (ec || !std::filesystem::is_regular_file(entry)) return false;  // gone, a link, a folder
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return false;  // gone or unreadable: nothing to back up
    if (m_maxSize != 0 && size > m_maxSize) {
        m_log(2, path + " is not backed up: " + std::to_string(size) + " bytes, above the engine's " +
                     std::to_string(m_maxSize));
        return false;
    }
    // A path's editions must be a second apart to be told apart by time.
    const auto last = m_lastBackupSecond.find(path);
    const uint32_t notBefore = last == m_lastBackupSecond.end() ? 0 : last->second + 1;
    // The engine stamps an edition with the system's coarse clock (time()), which may lag the
    // precise one by a few milliseconds: both must have reached the next second.
    while (static_cast<uint32_t>(std::time(nullptr)) < notBefore || UnixMilliseconds() / 1000 < notBefore)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::u16string wide = platform::FromUtf8(path);
    velk::BackupFileRequest request{wide.c_str()};
    const uint32_t result = m_plugin.CallFunc(m_wrapper, velk::kFnBackupFile, &request, nullptr);
    if (result != velk::kSuccess) {
        m_log(3, path + " is not backed up: result " + std::to_string(result));
        return false;
    }
    // One reading of the clock for the spacing and for the journal, so that both agree on the
    // second a backup ended in.
    const uint64_t doneMs = UnixMilliseconds();
    m_lastBackupSecond[path] = static_cast<uint32_t>(doneMs / 1000);
    if (m_backedUp) m_backedUp(path, doneMs);
    return true;
}

}  // namespace pellumhost
