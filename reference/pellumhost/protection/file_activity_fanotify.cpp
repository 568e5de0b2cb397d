// fanotify as the file activity source, with two groups. The permission group: a reader thread
// answers the service's own opens at once, refuses other processes' opens in a guarded folder,
// and queues the others; a worker forwards each queued open and then allows it. An open not
// answered within the bound is allowed by the reader, and the log says so. A permission event
// does not tell an open for reading from one for writing, so a guarded folder refuses every
// open by another process, but for the paths it lets others open (allowed at once, and not
// forwarded). The entry group (FanotifyTree) tells of files and folders created, removed and
// renamed, and keeps both groups' marks on every folder of the tree, those created later
// included; the reader queues its changes for the worker in the order they came.
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "reference/pellumhost/protection/fanotify_tree.h"
#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {
namespace {

constexpr auto kBound = std::chrono::milliseconds(2000);
constexpr size_t kHeadBytes = 65536;
// What of a file a held open hands on: enough to know its kind.
constexpr size_t kOpenHeadBytes = 4096;

// The size and first bytes of the file an event's descriptor holds.
bool StartOf(int fd, FileStart& start) {
    struct stat status;
    if (fstat(fd, &status) != 0) return false;
    start.size = static_cast<uint64_t>(status.st_size);
    start.head.resize(static_cast<size_t>(std::min<uint64_t>(start.size, kOpenHeadBytes)));
    const ssize_t n = start.head.empty() ? 0 : pread(fd, start.head.data(), start.head.size(), 0);
    start.head.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return true;
}

class FanotifySource final : public FileActivitySource {
public:
    ~FanotifySource() override { Stop(); }
    const char* Kind() const override { return "before-write"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        m_fd = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
        if (m_fd < 0) return error = "fanotify is not available (root is needed)", false;
        if (m_tree.Start(m_fd, folder, error).empty()) {
            close(m_fd);
            m_fd = -1;
            return false;
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
        if (!m_tree.Guard(folder, protect, why)) return false;
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
        m_tree.Stop();
        close(m_fd);
        m_fd = -1;
    }

private:
    // What the worker does next: forward an open or a finished write (fd, the permission
    // group's descriptor), report a change of the entry group, or write a line to the log.
    struct Queued {
        int fd = -1;
        uint32_t pid = 0;
        uint64_t mask = 0;
        std::string path;  // of fd, read once by the reader
        std::vector<EntryChange> changes;
        std::string line;
    };

    void Answer(int fd, uint32_t verdict) {
        fanotify_response response{fd, verdict};
        (void)!write(m_fd, &response, sizeof response);
    }

    // Queues a line for the log; the caller holds m_lock.
    void Say(std::string line) {
        Queued said;
        said.line = std::move(line);
        m_queue.push_back(std::move(said));
        m_wake.notify_one();
    }

    void ReadLoop() {
        const uint32_t self = static_cast<uint32_t>(getpid());
        while (m_running) {
            pollfd waits[2] = {{m_fd, POLLIN, 0}, {m_tree.Descriptor(), POLLIN, 0}};
            if (poll(waits, 2, 100) > 0) {
                if (waits[0].revents & POLLIN) ReadOpens(self);
                if (waits[1].revents & POLLIN) ReadEntries(self);
            }
            std::lock_guard<std::mutex> guard(m_lock);
            const auto now = std::chrono::steady_clock::now();
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (now - it->second < kBound) { ++it; continue; }
                Answer(it->first, FAN_ALLOW);
                Say("an open waited longer than 2000 ms for its version; allowed without one");
                it = m_pending.erase(it);
            }
        }
    }

    void ReadOpens(uint32_t self) {
        alignas(fanotify_event_metadata) char buffer[8192];
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
            // The path is read once per event (a system call), for the guard and the worker.
            std::string path = DescriptorPath(m->fd);
            if ((m->mask & FAN_OPEN_PERM) && Refused(m->fd, pid, path)) continue;
            if ((m->mask & FAN_OPEN_PERM) && OpenToOthers(path)) {
                Answer(m->fd, FAN_ALLOW);
                close(m->fd);
                continue;
            }
            std::lock_guard<std::mutex> guard(m_lock);
            if (m->mask & FAN_OPEN_PERM) m_pending[m->fd] = std::chrono::steady_clock::now();
            Queued event;
            event.fd = m->fd;
            event.pid = pid;
            event.mask = m->mask;
            event.path = std::move(path);
            m_queue.push_back(std::move(event));
            m_wake.notify_one();
        }
    }

    void ReadEntries(uint32_t self) {
        Queued read;
        std::vector<std::string> notes;
        m_tree.Read(self, read.changes, notes);
        std::lock_guard<std::mutex> guard(m_lock);
        for (std::string& note : notes) Say(std::move(note));
        if (read.changes.empty()) return;
        m_queue.push_back(std::move(read));
        m_wake.notify_one();
    }

    // An open by another process in a guarded folder is refused here, its descriptor closed.
    bool Refused(int fd, uint32_t pid, const std::string& path) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_guarded.empty()) return false;
            bool inside = false;
            for (const std::string& folder : m_guarded) inside = inside || PathWithin(path, folder);
            if (!inside) return false;
            for (const std::string& open : m_openToOthers)
                if (PathWithin(path, open)) return false;
        }
        Answer(fd, FAN_DENY);
        close(fd);
        std::lock_guard<std::mutex> guard(m_lock);
        Say("refused an open of " + path + " by process " + std::to_string(pid) + " (" +
            ProcessImage(pid) + "): the folder is protected");
        return true;
    }

    // An open in a guarded folder of a path that others may open: allowed at once.
    bool OpenToOthers(const std::string& path) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_guarded.empty()) return false;
        bool guarded = false;
        for (const std::string& folder : m_guarded) guarded = guarded || PathWithin(path, folder);
        if (!guarded) return false;
        for (const std::string& open : m_openToOthers)
            if (PathWithin(path, open)) return true;
        return false;
    }

    void Report(const EntryChange& change) {
        switch (change.kind) {
            case EntryChange::Kind::kCreated:
                if (m_callbacks.onCreated) m_callbacks.onCreated(change.processId, change.path, change.folder);
                break;
            case EntryChange::Kind::kRemoved:
                if (m_callbacks.onRemoved) m_callbacks.onRemoved(change.processId, change.path, change.folder);
                break;
            case EntryChange::Kind::kRenamed:
                if (m_callbacks.onRenamed)
                    m_callbacks.onRenamed(change.processId, change.path, change.to, change.folder);
                break;
        }
    }

    void WorkLoop() {
        for (;;) {
            Queued next;
            {
                std::unique_lock<std::mutex> guard(m_lock);
                m_wake.wait(guard, [this] { return !m_queue.empty() || !m_running; });
                if (!m_running) return;
                next = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (!next.line.empty() && m_callbacks.log) m_callbacks.log(next.line);
            for (const EntryChange& change : next.changes) Report(change);
            if (next.fd < 0) continue;
            const std::string& path = next.path;
            if (next.mask & FAN_OPEN_PERM) {
                if (m_callbacks.onOpen) {
                    FileStart start;
                    const bool read = StartOf(next.fd, start);
                    m_callbacks.onOpen(next.pid, path, read ? &start : nullptr);
                }
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
            if ((next.mask & FAN_CLOSE_WRITE) && m_callbacks.onWritten) {
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
    FanotifyTree m_tree;
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
