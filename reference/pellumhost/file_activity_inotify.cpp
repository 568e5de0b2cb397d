// inotify as the after-the-fact file activity source: every folder under the watched one is
// watched for finished writes and files moved in; a folder created later is watched as it
// appears, and the files it already holds are reported. One thread reads the events and runs
// the callbacks. inotify does not tell the writer, so every change is reported for process 0.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "reference/pellumhost/file_activity.h"

namespace pellumhost {
namespace {

constexpr size_t kHeadBytes = 65536;
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF;

class InotifySource final : public FileActivitySource {
public:
    ~InotifySource() override { Stop(); }
    const char* Kind() const override { return "after-the-fact"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0) return error = "inotify is not available", false;
        m_root = folder;
        m_callbacks = std::move(callbacks);
        if (!WatchTree(folder, false)) {
            close(m_fd);
            m_fd = -1;
            return error = "cannot watch " + folder, false;
        }
        m_running = true;
        m_reader = std::thread([this] { ReadLoop(); });
        return true;
    }

    void Stop() override {
        if (!m_running.exchange(false)) return;
        m_reader.join();
        close(m_fd);
        m_fd = -1;
    }

private:
    // Watches folder and every folder under it; with report, every file found is a change.
    bool WatchTree(const std::string& folder, bool report) {
        if (!Watch(folder)) return false;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec)) Watch(it->path().string());
            else if (report && it->is_regular_file(ec)) Report(it->path().string());
        }
        return true;
    }

    bool Watch(const std::string& folder) {
        const int wd = inotify_add_watch(m_fd, folder.c_str(), kFolderEvents);
        if (wd < 0) {
            Log("cannot watch " + folder + "; its changes are not seen");
            return false;
        }
        m_folders[wd] = folder;
        return true;
    }

    void Log(const std::string& line) {
        if (m_callbacks.log) m_callbacks.log(line);
    }

    void Report(const std::string& path) {
        std::vector<uint8_t> head(kHeadBytes);
        std::ifstream in(path, std::ios::binary);
        if (!in) return;  // gone again, or not readable: nothing to back up
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(in.gcount()));
        m_callbacks.onWritten(0, path, head);
    }

    void ReadLoop() {
        alignas(inotify_event) char buffer[65536];
        while (m_running) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            for (ssize_t at = 0; n > 0 && at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                Handle(*event);
            }
        }
    }

    void Handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            Log("too many changes at once: some were not seen and are not backed up");
            return;
        }
        const auto folder = m_folders.find(event.wd);
        if (folder == m_folders.end()) return;
        if (event.mask & IN_IGNORED) {
            m_folders.erase(folder);
            return;
        }
        if (event.mask & IN_DELETE_SELF) {
            if (folder->second == m_root)
                Log("the watched folder " + m_root + " is gone; nothing more is seen");
            return;
        }
        if (event.len == 0) return;
        const std::string path = folder->second + "/" + event.name;
        if (event.mask & IN_ISDIR) {
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) WatchTree(path, true);
        } else if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
            Report(path);
        }
    }

    int m_fd = -1;
    std::string m_root;
    std::atomic<bool> m_running{false};
    std::thread m_reader;
    std::map<int, std::string> m_folders;  // by watch descriptor; the reader's alone once started
    FileActivityCallbacks m_callbacks;
};

}  // namespace

std::unique_ptr<FileActivitySource> MakeAfterTheFactSource() {
    return std::make_unique<InotifySource>();
}

}  // namespace pellumhost
