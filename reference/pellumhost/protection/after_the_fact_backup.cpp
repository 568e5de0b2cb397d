// Baseline and change backups through CallFunc, spaced a second apart per path, and the burst
// rollback that ignores its own restores.
#include "reference/pellumhost/protection/after_the_fact_backup.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/protection/burst_rollback.h"
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

bool AfterTheFactBackup::OnChange(uint32_t writer, const std::string& path, double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_journal.NoteChange(writer, path, at)) return false;
    BackUpLocked(path);
    return true;
}

bool AfterTheFactBackup::OnRemoved(uint32_t writer, const std::string& path, double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_journal.NoteRemoved(writer, path, at);
}

bool AfterTheFactBackup::OnRenamed(uint32_t writer, const std::string& from, const std::string& to,
                                   double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_journal.NoteRenamed(writer, from, to, at);
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
        if (m_backUpChanges && !OnChange(writer, path, DetectorSeconds())) return;
        if (next.onWritten) next.onWritten(writer, path, head);
    };
    // A folder's files are reported one by one as well; the burst journal keeps files only.
    callbacks.onRemoved = [this, next](uint32_t writer, const std::string& path, bool folder) {
        const Handling handling(m_handling);
        if (m_backUpChanges && !folder && !OnRemoved(writer, path, DetectorSeconds())) return;
        if (next.onRemoved) next.onRemoved(writer, path, folder);
    };
    callbacks.onRenamed = [this, next](uint32_t writer, const std::string& from,
                                       const std::string& to, bool folder) {
        const Handling handling(m_handling);
        if (m_backUpChanges && !folder && !OnRenamed(writer, from, to, DetectorSeconds())) return;
        if (next.onRenamed) next.onRenamed(writer, from, to, folder);
    };
    return callbacks;
}

std::vector<RolledBackFile> AfterTheFactBackup::RollBack(const std::vector<BurstFile>& burst) {
    std::vector<std::string> paths;
    for (const BurstFile& file : burst) paths.push_back(file.path);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_journal.IgnoreOwnRestores(paths);
    }
    const std::vector<RolledBackFile> results = RollBackBurst(m_plugin, m_wrapper, burst);
    const double quietUntil = DetectorSeconds() + kOwnRestoreQuietSeconds;
    {
        // What was restored becomes each file's newest backup: a later burst is then rolled
        // back to it, not to what this burst wrote (which was backed up as a change).
        std::lock_guard<std::mutex> guard(m_lock);
        m_journal.OwnRestoresDone(quietUntil);
        for (const RolledBackFile& result : results)
            if (result.result == velk::kSuccess) BackUpLocked(platform::ToUtf8(result.path));
    }
    for (size_t i = 0; i < results.size() && i < burst.size(); ++i) {
        const BurstFile& file = burst[i];
        const RolledBackFile& result = results[i];
        const char* what = file.gone ? " (removed or renamed away by the burst)" : "";
        if (result.result == velk::kSuccess)
            m_log(2, "burst rollback: " + file.path + what + (file.gone ? " brought back" : " restored") +
                         " from edition " + std::to_string(result.versionId));
        else if (result.result == kNoEditionBeforeBurst && file.lastBackupBefore == 0)
            m_log(2, "burst rollback: " + file.path + what +
                         " was created by the burst and has no edition before it: left alone");
        else
            m_log(3, "burst rollback: " + file.path + what + " not restored: result " +
                         std::to_string(result.result));
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
        ignored = m_journal.TakeIgnoredCount();
    }
    char quiet[16];
    std::snprintf(quiet, sizeof quiet, "%.1f", kOwnRestoreQuietSeconds);
    m_log(2, "burst rollback: " + std::to_string(ignored) + " changes to the " +
                 std::to_string(m_restoredPaths) + " files restored were ignored as the host's "
                 "own restores (while restoring and " + quiet + " s after)");
    return ignored;
}

std::vector<BurstFile> AfterTheFactBackup::BurstOf(uint32_t writer, double flaggedAt,
                                                   double windowSeconds) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_journal.BurstOf(writer, flaggedAt, windowSeconds);
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
    const uint32_t notBefore = m_journal.NextBackupSecond(path);
    while (static_cast<uint32_t>(std::time(nullptr)) < notBefore)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::u16string wide = platform::FromUtf8(path);
    velk::BackupFileRequest request{wide.c_str()};
    const uint32_t result = m_plugin.CallFunc(m_wrapper, velk::kFnBackupFile, &request, nullptr);
    if (result != velk::kSuccess) {
        m_log(3, path + " is not backed up: result " + std::to_string(result));
        return false;
    }
    m_journal.NoteBackup(path, static_cast<uint32_t>(std::time(nullptr)));
    return true;
}

}  // namespace pellumhost
