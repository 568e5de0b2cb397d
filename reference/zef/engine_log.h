// The engine's own log, "ZefEngine.log" in the debug log folder: one UTF-8 line per event,
// with the time and level. Lines written before the folder is known wait in memory. Safe from
// any thread (one lock).
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zef {

enum class LogLevel : uint32_t { kError = 1, kWarning = 2, kInfo = 3, kTrace = 4 };

class EngineLog {
public:
    EngineLog() = default;
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;
    ~EngineLog();

    // Lines above level are dropped; 0 writes nothing.
    void SetLevel(uint32_t level);
    // Writes from now on into folder/ZefEngine.log (the folder is created); pending lines first.
    void OpenIn(const std::u16string& folder);
    void Close();
    void Write(LogLevel level, const std::u16string& text);
    // The last lines written, newest last (for tests and diagnostics), at most 256.
    std::vector<std::string> RecentLines() const;

private:
    mutable std::mutex m_lock;
    uint32_t m_level = 4;
    std::FILE* m_file = nullptr;
    std::vector<std::string> m_pending;
    std::vector<std::string> m_recent;
};

}  // namespace zef
