// The engine's log file; one lock guards the file, the pending lines and the recent lines.
#include "reference/zef/engine_log.h"

#include <ctime>

#include "platform/file_ops.h"
#include "platform/stdio_file.h"
#include "platform/text.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

constexpr size_t kKeptLines = 256;

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::kError: return "error";
        case LogLevel::kWarning: return "warning";
        case LogLevel::kInfo: return "info";
        case LogLevel::kTrace: return "trace";
    }
    return "?";
}

std::string Stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

}  // namespace

EngineLog::~EngineLog() { Close(); }

void EngineLog::SetLevel(uint32_t level) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_level = level;
}

void EngineLog::OpenIn(const std::u16string& folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    if (folder.empty()) return;
    platform::SystemFileOps().createFolderTree(folder.c_str());
    m_file = platform::OpenStdioFile(JoinPath(folder, u"ZefEngine.log"), "ab");
    if (m_file == nullptr) return;
    for (const std::string& line : m_pending) std::fputs(line.c_str(), m_file);
    m_pending.clear();
    std::fflush(m_file);
}

void EngineLog::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
}

void EngineLog::Write(LogLevel level, const std::u16string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (static_cast<uint32_t>(level) > m_level) return;
    std::string line = Stamp() + " [" + LevelName(level) + "] " + platform::ToUtf8(text) + "\n";
    if (m_file != nullptr) {
        std::fputs(line.c_str(), m_file);
        std::fflush(m_file);
    } else if (m_pending.size() < kKeptLines) {
        m_pending.push_back(line);
    }
    line.pop_back();
    if (m_recent.size() == kKeptLines) m_recent.erase(m_recent.begin());
    m_recent.push_back(std::move(line));
}

std::vector<std::string> EngineLog::RecentLines() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_recent;
}

}  // namespace zef
