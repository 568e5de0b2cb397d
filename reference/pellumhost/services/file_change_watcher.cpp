// The file change watcher's looks and its thread.
#include "reference/pellumhost/services/file_change_watcher.h"

#include <fstream>
#include <sstream>

namespace pellumhost {

FileChangeWatcher::FileChangeWatcher(std::string path, std::function<void()> onChange)
    : m_path(std::move(path)), m_onChange(std::move(onChange)) {}

FileChangeWatcher::Stamp FileChangeWatcher::Look() const {
    Stamp stamp;
    std::ifstream in(m_path, std::ios::binary);
    if (!in) return stamp;
    std::ostringstream content;
    content << in.rdbuf();
    stamp.exists = true;
    stamp.content = content.str();
    return stamp;
}

bool FileChangeWatcher::Poll() {
    Stamp now = Look();
    if (now == m_last) return false;
    m_last = std::move(now);
    m_onChange();
    return true;
}

void FileChangeWatcher::Start(std::chrono::milliseconds interval) {
    Stop();
    m_last = Look();
    m_stop = false;
    m_thread = std::thread([this, interval] {
        std::unique_lock<std::mutex> guard(m_lock);
        while (!m_wake.wait_for(guard, interval, [this] { return m_stop; })) {
            guard.unlock();
            Poll();
            guard.lock();
        }
    });
}

void FileChangeWatcher::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace pellumhost
