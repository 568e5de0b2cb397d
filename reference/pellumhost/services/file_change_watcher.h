// Notices that a file changed: a thread looks at it every interval (portable, no
// notification API) and calls onChange on that thread when its content, or whether it
// exists, differs from the last look. Stop waits for a call under way.
#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pellumhost {

class FileChangeWatcher {
public:
    FileChangeWatcher(std::string path, std::function<void()> onChange);
    ~FileChangeWatcher() { Stop(); }
    FileChangeWatcher(const FileChangeWatcher&) = delete;
    FileChangeWatcher& operator=(const FileChangeWatcher&) = delete;

    // Takes the file as it is now as the base and starts looking every interval.
    void Start(std::chrono::milliseconds interval);
    void Stop();

    // One look, on the caller's thread: true, after onChange ran, when the file changed.
    bool Poll();

private:
    struct Stamp {
        bool exists = false;
        std::string content;
        bool operator==(const Stamp& other) const {
            return exists == other.exists && content == other.content;
        }
    };
    Stamp Look() const;

    const std::string m_path;
    const std::function<void()> m_onChange;
    Stamp m_last;
    std::mutex m_lock;  // guards m_stop; Poll runs on one thread at a time
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace pellumhost
