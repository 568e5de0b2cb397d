// fanotify as the file activity source: a reader thread answers the service's own opens at
// once, refuses other processes' opens in a guarded folder, and queues the others; a worker
// forwards each queued open and then allows it. An open not answered within the bound is
// allowed by the reader, and the log says so. A permission event does not tell an open for
// reading from one for writing, so a guarded folder refuses every open by another process,
// but for the paths it lets others open (allowed at once, and not forwarded).
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {
namespace {

constexpr auto kBound = std::chrono::milliseconds(2000);
constexpr size_t kHeadBytes = 65536;

// path is folder itself or lies below it.
bool Within(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string FdPath(int fd) {
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// A folder and every folder below it: fanotify marks one folder and its direct children.
std::vector<std::string> FolderTree(const std::string& folder) {
    std::error_code ec;
    std::vector<std::string> folders{folder};
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) folders.push_back(it->path().string());
    }
    return folders;
}

class FanotifySource final : public FileActivitySource {
public:
    ~FanotifySource() override { Stop(); }
    const char* Kind() const override { return "before-write"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        m_fd = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
        if (m_fd < 0) return error = "fanotify is not available (root is needed)", false;
        for (const std::string& f : FolderTree(folder)) {
            if (fanotify_mark(m_fd, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_CLOSE_WRITE | FAN_EVENT_ON_CHILD,
                              AT_FDCWD, f.c_str()) != 0) {
                close(m_fd);
                m_fd = -1;
                return error = "cannot watch " + f, false;
            }
        }
        m_callbacks = std::move(callbacks);
        m_running = true;
        m_reader = std::thread([this] { ReadLoop(); });
        m_worker = std::thread([this] { WorkLoop(); });
        return true;
    }

    std::vector<double> HoldMicroseconds() const override { return m_holds; }

    bool Guard(const std::string& folder, bool protect, std::string& why) override {
        if (m_fd < 0) return why = "the fanotify source is not started", false;
        for (const std::string& f : FolderTree(folder)) {
            if (fanotify_mark(m_fd, protect ? FAN_MARK_ADD : FAN_MARK_REMOVE,
                              FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, f.c_str()) != 0 &&
                protect) {
                why = "fanotify cannot mark " + f;
                return false;
            }
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (protect) m_guarded.push_back(folder);
        else m_guarded.erase(std::remove(m_guarded.begin(), m_guarded.end(), folder), m_guarded.end());
        return true;
    }

    void LetOthersOpen(const std::vector<std::string>& paths) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_openToOthers = paths;
    }

    void Stop() override {
        if (!m_running.exchange(false)) return;
        m_wake.notify_all();
        m_reader.join();
        m_worker.join();
        for (auto& entry : m_pending) Answer(entry.first, FAN_ALLOW);
        for (auto& queued : m_queue) if (queued.fd >= 0) close(queued.fd);
        close(m_fd);
        m_fd = -1;
    }

private:
    struct Queued {
        int fd;
        uint32_t pid;
        uint64_t mask;
    };

    void Answer(int fd, uint32_t verdict) {
        fanotify_response response{fd, verdict};
        (void)!write(m_fd, &response, sizeof response);
    }

    void ReadLoop() {
        alignas(fanotify_event_metadata) char buffer[8192];
        const uint32_t self = static_cast<uint32_t>(getpid());
        while (m_running) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                const ssize_t n = read(m_fd, buffer, sizeof buffer);
                auto* m = reinterpret_cast<fanotify_event_metadata*>(buffer);
                for (ssize_t left = n; left > 0 && FAN_EVENT_OK(m, left); m = FAN_EVENT_NEXT(m, left)) {
                    if (m->fd < 0) continue;
                    const uint32_t pid = static_cast<uint32_t>(m->pid);
                    if (pid == self) {
                        if (m->mask & FAN_OPEN_PERM) Answer(m->fd, FAN_ALLOW);
                        close(m->fd);
                        continue;
                    }
                    if ((m->mask & FAN_OPEN_PERM) && Refused(m->fd, pid)) continue;
                    if ((m->mask & FAN_OPEN_PERM) && OpenToOthers(m->fd)) {
                        Answer(m->fd, FAN_ALLOW);
                        close(m->fd);
                        continue;
                    }
                    std::lock_guard<std::mutex> guard(m_lock);
                    if (m->mask & FAN_OPEN_PERM) m_pending[m->fd] = std::chrono::steady_clock::now();
                    m_queue.push_back({m->fd, pid, m->mask});
                    m_wake.notify_one();
                }
            }
            std::lock_guard<std::mutex> guard(m_lock);
            const auto now = std::chrono::steady_clock::now();
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (now - it->second < kBound) { ++it; continue; }
                Answer(it->first, FAN_ALLOW);
                m_callbacks.log("an open waited longer than 2000 ms for its version; allowed "
                                "without one");
                it = m_pending.erase(it);
            }
        }
    }

    // An open by another process in a guarded folder is refused here, its descriptor closed.
    bool Refused(int fd, uint32_t pid) {
        std::string path;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_guarded.empty()) return false;
            path = FdPath(fd);
            bool inside = false;
            for (const std::string& folder : m_guarded) inside = inside || Within(path, folder);
            if (!inside) return false;
            for (const std::string& open : m_openToOthers)
                if (Within(path, open)) return false;
        }
        Answer(fd, FAN_DENY);
        close(fd);
        m_callbacks.log("refused an open of " + path + " by process " + std::to_string(pid) +
                        " (" + ProcessImage(pid) + "): the folder is protected");
        return true;
    }

    // An open in a guarded folder of a path that others may open: allowed at once.
    bool OpenToOthers(int fd) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_guarded.empty()) return false;
        const std::string path = FdPath(fd);
        bool guarded = false;
        for (const std::string& folder : m_guarded) guarded = guarded || Within(path, folder);
        if (!guarded) return false;
        for (const std::string& open : m_openToOthers)
            if (Within(path, open)) return true;
        return false;
    }

    void WorkLoop() {
        for (;;) {
            Queued next{};
            {
                std::unique_lock<std::mutex> guard(m_lock);
                m_wake.wait(guard, [this] { return !m_queue.empty() || !m_running; });
                if (!m_running) return;
                next = m_queue.front();
                m_queue.pop_front();
            }
            const std::string path = FdPath(next.fd);
            if (next.mask & FAN_OPEN_PERM) {
                m_callbacks.onOpen(next.pid, path);
                std::lock_guard<std::mutex> guard(m_lock);
                const auto read = m_pending.find(next.fd);
                if (read != m_pending.end()) {
                    Answer(next.fd, FAN_ALLOW);
                    m_holds.push_back(std::chrono::duration<double, std::micro>(
                                          std::chrono::steady_clock::now() - read->second)
                                          .count());
                    m_pending.erase(read);
                }
            }
            if (next.mask & FAN_CLOSE_WRITE) {
                std::vector<uint8_t> head(kHeadBytes);
                const ssize_t n = pread(next.fd, head.data(), head.size(), 0);
                head.resize(n > 0 ? static_cast<size_t>(n) : 0);
                m_callbacks.onWritten(next.pid, path, head);
            }
            // A permission answered by the reader's bound keeps its descriptor until now.
            close(next.fd);
        }
    }

    int m_fd = -1;
    std::atomic<bool> m_running{false};
    std::thread m_reader, m_worker;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Queued> m_queue;
    // Opens not answered yet, by descriptor, with the time their event was read; whoever
    // erases an entry (the worker, or the reader at the bound) answers it, once.
    std::map<int, std::chrono::steady_clock::time_point> m_pending;
    std::vector<double> m_holds;
    std::vector<std::string> m_guarded;  // folders whose opens by others are refused
    std::vector<std::string> m_openToOthers;  // but for these paths
    FileActivityCallbacks m_callbacks;
};

}  // namespace

std::unique_ptr<FileActivitySource> MakeBeforeWriteSource() {
    return std::make_unique<FanotifySource>();
}

}  // namespace pellumhost
