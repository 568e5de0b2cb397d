// What a file activity source reported, one line per callback: "o PATH" (an open held),
// "w PATH" (written), "c PATH" / "C PATH" (a file / folder created), "r PATH" / "R PATH"
// (removed), "n FROM -> TO" / "N FROM -> TO" (renamed). With a root, each path is relative to
// it with '/' between its parts; with processes, the process follows the letter ("r 123 a.txt").
#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/file_activity.h"

class ActivityRecorder {
public:
    explicit ActivityRecorder(const std::filesystem::path& root, bool processes = false)
        : m_root(root.string()), m_processes(processes) {}

    pellumhost::FileActivityCallbacks Callbacks() {
        pellumhost::FileActivityCallbacks callbacks;
        callbacks.onOpen = [this](uint32_t pid, const std::string& path, const pellumhost::FileStart*) { Add("o", pid, path); };
        callbacks.onWritten = [this](uint32_t pid, const std::string& path, const std::vector<uint8_t>&) { Add("w", pid, path); };
        callbacks.onCreated = [this](uint32_t pid, const std::string& path, bool folder) { Add(folder ? "C" : "c", pid, path); };
        callbacks.onRemoved = [this](uint32_t pid, const std::string& path, bool folder) { Add(folder ? "R" : "r", pid, path); };
        callbacks.onRenamed = [this](uint32_t pid, const std::string& from, const std::string& to, bool folder) { Add(folder ? "N" : "n", pid, from, to); };
        callbacks.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_log += line + "\n";
        };
        return callbacks;
    }

    // Records a line as the callbacks do (for a test's own callback).
    void Add(const char* letter, uint32_t pid, const std::string& path, const std::string& to = {}) {
        std::string line = letter + (m_processes ? " " + std::to_string(pid) : "") + " " + Shown(path) + (to.empty() ? "" : " -> " + Shown(to));
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
        m_changed.notify_all();
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    std::string Log() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_log;
    }
    std::string All() {
        std::string all;
        for (const std::string& line : Lines()) all += line + "\n";
        return all;
    }
    // Waits (at most 10 s) for line; true when it came.
    bool WaitFor(const std::string& line) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end(); });
    }

private:
    std::string Shown(std::string path) const {
        if (m_root.empty() || path.compare(0, m_root.size(), m_root) != 0) return path;
        path = path.substr(m_root.size() + 1);
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    std::string m_log;
    const std::string m_root;
    const bool m_processes;
};
