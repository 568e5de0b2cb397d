// inotify over every folder of the tree: a folder created or moved in is watched as it appears
// and what it holds is reported as created (it may have been filled before its watch); a move whose two halves (the same cookie) arrive in one
// read is a rename, a lone half a move in or out. An eventfd wakes the reader.
#include "platform/directory_changes.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/text.h"

namespace platform {

namespace {

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                   IN_DELETE | IN_DELETE_SELF;

}  // namespace

struct DirectoryChanges::State {
    int notify = -1;
    int wake = -1;
    std::string root;
    bool gone = false;
    std::map<int, std::string> folders;  // by watch descriptor
    std::vector<DirectoryChange> early;  // folders that could not be watched when it opened

    void Watch(const std::string& folder, std::vector<DirectoryChange>& changes) {
        const int wd = inotify_add_watch(notify, folder.c_str(), kFolderEvents);
        if (wd < 0) changes.push_back({ChangeAction::kUnwatched, FromUtf8(folder), {}});
        else folders[wd] = folder;
    }

    // Watches folder and every folder below it, each before it is read (links are not
    // followed); with report, each folder and file found is created.
    void WatchTree(const std::string& folder, bool report, std::vector<DirectoryChange>& changes) {
        Watch(folder, changes);
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            const std::filesystem::file_type type = it->symlink_status(ec).type();
            const bool isFolder = type == std::filesystem::file_type::directory;
            if (isFolder) Watch(it->path().string(), changes);
            if (report && (isFolder || type == std::filesystem::file_type::regular))
                changes.push_back({ChangeAction::kCreated, FromUtf8(it->path().string()), {}});
        }
    }

    // A watched folder renamed inside the tree keeps its watches; their paths follow it.
    void Renamed(const std::string& from, const std::string& to) {
        for (auto& entry : folders) {
            std::string& path = entry.second;
            if (Within(path, from)) path = to + path.substr(from.size());
        }
    }

    // A watched folder moved out of the tree: its watches, which would follow it, are taken
    // off (what happens to it now happens outside).
    void MovedOut(const std::string& folder) {
        for (auto it = folders.begin(); it != folders.end();) {
            if (!Within(it->second, folder)) {
                ++it;
                continue;
            }
            inotify_rm_watch(notify, it->first);
            it = folders.erase(it);
        }
    }

    static bool Within(const std::string& path, const std::string& folder) {
        return path.compare(0, folder.size(), folder) == 0 &&
               (path.size() == folder.size() || path[folder.size()] == '/');
    }
};

DirectoryChanges::DirectoryChanges() : m_state(std::make_unique<State>()) {}
DirectoryChanges::~DirectoryChanges() { Close(); }

char16_t DirectoryChanges::Separator() { return u'/'; }

bool DirectoryChanges::Open(const std::u16string& folder, std::string& error) {
    Close();
    State& s = *m_state;
    s.notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    s.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.root = ToUtf8(folder);
    s.gone = false;
    if (s.notify < 0 || s.wake < 0) {
        Close();
        return error = "inotify is not available", false;
    }
    if (inotify_add_watch(s.notify, s.root.c_str(), kFolderEvents) < 0) {
        Close();
        return error = "cannot watch " + ToUtf8(folder), false;
    }
    s.WatchTree(s.root, false, s.early);
    return true;
}

ChangesRead DirectoryChanges::Read(uint32_t timeoutMs, std::vector<DirectoryChange>& changes) {
    State& s = *m_state;
    if (!s.early.empty()) {
        changes.insert(changes.end(), s.early.begin(), s.early.end());
        s.early.clear();
        return ChangesRead::kChanges;
    }
    pollfd waits[2] = {{s.wake, POLLIN, 0}, {s.notify, POLLIN, 0}};
    if (poll(waits, 2, static_cast<int>(timeoutMs)) <= 0) return ChangesRead::kTimeout;
    if (waits[0].revents & POLLIN) {
        uint64_t ignored = 0;
        (void)!read(s.wake, &ignored, sizeof ignored);
        return ChangesRead::kWoken;
    }
    alignas(inotify_event) char buffer[65536];
    const ssize_t n = read(s.notify, buffer, sizeof buffer);
    bool overflow = false, gone = false;
    // The first half of a move, until its second half (same cookie) or the end of this read.
    uint32_t cookie = 0;
    std::string movedFrom;
    bool movedFolder = false;
    const auto settleMove = [&] {
        if (!movedFrom.empty()) changes.push_back({ChangeAction::kRemoved, FromUtf8(movedFrom), {}});
        if (!movedFrom.empty() && movedFolder) s.MovedOut(movedFrom);
        movedFrom.clear();
    };
    for (ssize_t at = 0; n > 0 && at < n;) {
        const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        if (event.mask & IN_Q_OVERFLOW) {
            overflow = true;
            continue;
        }
        const auto folder = s.folders.find(event.wd);
        if (folder == s.folders.end()) continue;
        if (event.mask & IN_IGNORED) {
            s.folders.erase(folder);
            continue;
        }
        if (event.mask & IN_DELETE_SELF) {
            gone = gone || folder->second == s.root;
            continue;
        }
        if (event.len == 0) continue;
        const std::string path = folder->second + "/" + event.name;
        const bool isFolder = (event.mask & IN_ISDIR) != 0;
        if (event.mask & IN_MOVED_FROM) {
            settleMove();
            cookie = event.cookie;
            movedFrom = path;
            movedFolder = isFolder;
        } else if ((event.mask & IN_MOVED_TO) && !movedFrom.empty() && event.cookie == cookie) {
            changes.push_back({ChangeAction::kRenamed, FromUtf8(path), FromUtf8(movedFrom)});
            if (movedFolder) s.Renamed(movedFrom, path);
            movedFrom.clear();
        } else if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            changes.push_back({ChangeAction::kCreated, FromUtf8(path), {}});
            if (isFolder) s.WatchTree(path, true, changes);
        } else if (event.mask & IN_DELETE) {
            changes.push_back({ChangeAction::kRemoved, FromUtf8(path), {}});
        } else if (!isFolder && (event.mask & IN_CLOSE_WRITE)) {
            changes.push_back({ChangeAction::kWritten, FromUtf8(path), {}});
        }
    }
    settleMove();
    if (gone && !s.gone) {
        s.gone = true;
        return ChangesRead::kGone;
    }
    return overflow ? ChangesRead::kOverflow : ChangesRead::kChanges;
}

void DirectoryChanges::Wake() {
    const uint64_t one = 1;
    if (m_state->wake >= 0) (void)!write(m_state->wake, &one, sizeof one);
}

void DirectoryChanges::Close() {
    State& s = *m_state;
    if (s.notify >= 0) close(s.notify);
    if (s.wake >= 0) close(s.wake);
    s.notify = s.wake = -1;
    s.folders.clear();
    s.early.clear();
}

}  // namespace platform
