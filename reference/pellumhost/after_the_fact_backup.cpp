// Baseline and change backups through CallFunc, spaced a second apart per path.
#include "reference/pellumhost/after_the_fact_backup.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"

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
        if (!it->is_regular_file(ec)) continue;
        std::lock_guard<std::mutex> guard(m_lock);
        if (BackUpLocked(it->path().string())) ++held;
    }
    if (ec) m_log(3, "the baseline stopped early: " + folder + " cannot be listed (" + ec.message() + ")");
    return held;
}

void AfterTheFactBackup::OnChange(uint32_t writer, const std::string& path, double at) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_journal.NoteChange(writer, path, at);
    BackUpLocked(path);
}

std::vector<BurstFile> AfterTheFactBackup::BurstOf(uint32_t writer, double flaggedAt,
                                                   double windowSeconds) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_journal.BurstOf(writer, flaggedAt, windowSeconds);
}

bool AfterTheFactBackup::BackUpLocked(const std::string& path) {
    std::error_code ec;
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
