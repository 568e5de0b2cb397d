// The watched tree as fanotify's entry group tells of it: marks kept in step with the folders,
// and each event turned into the changes the source reports.
#include "reference/pellumhost/protection/fanotify_tree.h"

#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>

namespace pellumhost {
namespace {

namespace fs = std::filesystem;

// What the permission group hears in a watched folder, and in a folder that is only guarded.
constexpr uint64_t kWatchedOpens = FAN_OPEN_PERM | FAN_CLOSE_WRITE | FAN_EVENT_ON_CHILD;
constexpr uint64_t kGuardedOpens = FAN_OPEN_PERM | FAN_EVENT_ON_CHILD;
// What the entry group hears in every marked folder: entries of files and folders.
constexpr uint64_t kEntries = FAN_CREATE | FAN_DELETE | FAN_RENAME | FAN_ONDIR;
// A mark is on the folder itself, never on what a link in its place points to.
constexpr unsigned kFolderOnly = FAN_MARK_ONLYDIR | FAN_MARK_DONT_FOLLOW;

// A file handle as a key: its type, then its bytes.
std::string HandleKey(int type, const unsigned char* bytes, size_t size) {
    std::string key(reinterpret_cast<const char*>(&type), sizeof type);
    key.append(reinterpret_cast<const char*>(bytes), size);
    return key;
}

std::string HandleOf(const std::string& path) {
    alignas(file_handle) unsigned char buffer[sizeof(file_handle) + MAX_HANDLE_SZ];
    auto* handle = reinterpret_cast<file_handle*>(buffer);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount = 0;
    if (name_to_handle_at(AT_FDCWD, path.c_str(), handle, &mount, 0) != 0) return {};
    return HandleKey(handle->handle_type, handle->f_handle, handle->handle_bytes);
}

// A name an event carries: the handle of the folder it is in (empty when absent), and the
// entry's name there.
struct EventName {
    std::string folder;
    std::string name;
};

// The names of an event: entry for a creation or a removal, from and to for a rename.
struct EventNames {
    EventName entry, from, to;
};

// Reads the information records of the event at base; the handles in them are not aligned,
// so they are copied out field by field.
EventNames NamesOf(const fanotify_event_metadata& event, const unsigned char* base) {
    EventNames names;
    constexpr size_t kRecord = sizeof(fanotify_event_info_fid);
    for (size_t at = event.metadata_len; at + kRecord <= event.event_len;) {
        fanotify_event_info_header header;
        std::memcpy(&header, base + at, sizeof header);
        if (header.len < kRecord || at + header.len > event.event_len) break;
        EventName* name = header.info_type == FAN_EVENT_INFO_TYPE_DFID_NAME       ? &names.entry
                          : header.info_type == FAN_EVENT_INFO_TYPE_OLD_DFID_NAME ? &names.from
                          : header.info_type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME ? &names.to
                                                                                  : nullptr;
        const unsigned char* handle = base + at + kRecord;
        const size_t room = header.len - kRecord;
        uint32_t size = 0;
        int type = 0;
        if (name != nullptr && room >= sizeof(file_handle)) {
            std::memcpy(&size, handle + offsetof(file_handle, handle_bytes), sizeof size);
            std::memcpy(&type, handle + offsetof(file_handle, handle_type), sizeof type);
            if (sizeof(file_handle) + size < room) {
                const auto* text = reinterpret_cast<const char*>(handle + sizeof(file_handle) + size);
                name->folder = HandleKey(type, handle + sizeof(file_handle), size);
                name->name.assign(text, strnlen(text, room - sizeof(file_handle) - size));
            }
        }
        at += header.len;
    }
    return names;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

}  // namespace

bool PathWithin(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string DescriptorPath(int fd) {
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

FanotifyTree::~FanotifyTree() { Stop(); }

std::string FanotifyTree::Start(int openGroup, const std::string& root, std::string& error) {
    std::error_code ec;
    const std::string canonical = fs::canonical(root, ec).string();
    if (ec) return error = "cannot watch " + root + ": " + ec.message(), std::string();
    m_entryGroup = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME,
                                 O_RDONLY);
    if (m_entryGroup < 0)
        return error = "fanotify cannot tell of files created, removed and renamed (" +
                       std::string(std::strerror(errno)) +
                       "): run as root on Linux 5.17 or later, or use the after-the-fact source",
               std::string();
    m_rootFd = open(canonical.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool marked = true;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_openGroup = openGroup;
        m_root = canonical;
        std::vector<std::string> folders = List(m_root).folders;
        folders.insert(folders.begin(), m_root);
        for (const std::string& folder : folders) {
            if (MarkFolder(folder)) continue;
            error = "fanotify cannot watch " + folder + " (" + std::strerror(errno) +
                    "): run as root on Linux 5.17 or later, or use the after-the-fact source";
            marked = false;
            break;
        }
    }
    if (marked) return canonical;
    Stop();
    return {};
}

void FanotifyTree::Stop() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_entryGroup >= 0) close(m_entryGroup);
    if (m_rootFd >= 0) close(m_rootFd);
    m_entryGroup = m_rootFd = -1;
    m_paths.clear();
    m_listed.clear();
    m_fresh.clear();
}

FanotifyTree::Listing FanotifyTree::List(const std::string& folder) {
    Listing listing;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::file_type type = it->symlink_status(ec).type();  // links are not followed
        if (type == fs::file_type::directory) listing.folders.push_back(it->path().string());
        else if (type == fs::file_type::regular) listing.files.push_back(it->path().string());
    }
    return listing;
}

bool FanotifyTree::Watched(const std::string& path) const { return PathWithin(path, m_root); }

bool FanotifyTree::Guarded(const std::string& path) const {
    return std::any_of(m_guarded.begin(), m_guarded.end(),
                       [&](const std::string& folder) { return PathWithin(path, folder); });
}

bool FanotifyTree::MarkFolder(const std::string& folder) {
    const bool watched = Watched(folder);
    if (!watched && !Guarded(folder)) return false;
    if (fanotify_mark(m_openGroup, FAN_MARK_ADD | kFolderOnly, watched ? kWatchedOpens : kGuardedOpens,
                      AT_FDCWD, folder.c_str()) != 0 ||
        fanotify_mark(m_entryGroup, FAN_MARK_ADD | kFolderOnly, kEntries, AT_FDCWD, folder.c_str()) != 0)
        return false;
    const std::string handle = HandleOf(folder);
    if (!handle.empty()) m_paths[handle] = folder;
    return true;
}

void FanotifyTree::UnmarkFolder(const std::string& folder) {
    fanotify_mark(m_openGroup, FAN_MARK_REMOVE | kFolderOnly, kWatchedOpens, AT_FDCWD, folder.c_str());
    fanotify_mark(m_entryGroup, FAN_MARK_REMOVE | kFolderOnly, kEntries, AT_FDCWD, folder.c_str());
    const std::string handle = HandleOf(folder);
    if (!handle.empty()) m_paths.erase(handle);
}

std::string FanotifyTree::PathOf(const std::string& handle) const {
    const auto known = m_paths.find(handle);
    return known != m_paths.end() ? known->second : PathNow(handle);
}

std::string FanotifyTree::PathNow(const std::string& handle) const {
    if (handle.size() < sizeof(int) || handle.size() - sizeof(int) > MAX_HANDLE_SZ) return {};
    alignas(file_handle) unsigned char buffer[sizeof(file_handle) + MAX_HANDLE_SZ];
    auto* opened = reinterpret_cast<file_handle*>(buffer);
    opened->handle_bytes = static_cast<unsigned>(handle.size() - sizeof(int));
    std::memcpy(&opened->handle_type, handle.data(), sizeof(int));
    std::memcpy(opened->f_handle, handle.data() + sizeof(int), opened->handle_bytes);
    const int fd = open_by_handle_at(m_rootFd, opened, O_PATH | O_CLOEXEC);
    if (fd < 0) return {};
    std::string path = DescriptorPath(fd);
    close(fd);
    const std::string deleted = " (deleted)";
    if (path.size() >= deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        return {};
    return path;
}

void FanotifyTree::Read(uint32_t self, std::vector<EntryChange>& changes,
                        std::vector<std::string>& notes) {
    alignas(fanotify_event_metadata) unsigned char buffer[16384];
    const ssize_t n = read(m_entryGroup, buffer, sizeof buffer);
    // A read that left room for one more event of the largest kind emptied the queue.
    constexpr size_t kLargestEvent = 2048;
    const bool drained = n < 0 ? errno == EAGAIN : static_cast<size_t>(n) + kLargestEvent <= sizeof buffer;
    std::lock_guard<std::mutex> guard(m_lock);
    const uint64_t batch = ++m_reads;
    const auto pathOf = [this](const EventName& name) {
        const std::string folder = name.folder.empty() ? std::string() : PathOf(name.folder);
        return folder.empty() || name.name.empty() ? std::string() : folder + "/" + name.name;
    };
    // Events with names are 4-byte aligned only: each one's metadata is copied out.
    fanotify_event_metadata event;
    for (size_t at = 0; n > 0 && at + sizeof event <= static_cast<size_t>(n); at += event.event_len) {
        std::memcpy(&event, buffer + at, sizeof event);
        if (event.event_len < event.metadata_len || at + event.event_len > static_cast<size_t>(n)) break;
        if (event.mask & FAN_Q_OVERFLOW) {
            // Folders made meanwhile may have been missed: every folder is marked again.
            std::vector<std::string> folders = List(m_root).folders;
            for (const std::string& folder : m_guarded) {
                const Listing guarded = List(folder);
                folders.push_back(folder);
                folders.insert(folders.end(), guarded.folders.begin(), guarded.folders.end());
            }
            for (const std::string& folder : folders) MarkFolder(folder);
            m_listed.clear();
            m_fresh.clear();
            notes.push_back("too many files created, removed and renamed at once under " + m_root +
                            ": the system lost count of some, which are not reported");
            continue;
        }
        const uint32_t pid = static_cast<uint32_t>(event.pid);
        const bool report = pid != self, folder = (event.mask & FAN_ONDIR) != 0;
        const EventNames names = NamesOf(event, buffer + at);
        if (event.mask & FAN_RENAME) {
            Renamed(pathOf(names.from), pathOf(names.to), folder, pid, report, changes);
            continue;
        }
        const std::string path = pathOf(names.entry);
        if (path.empty()) continue;
        const bool created = (event.mask & FAN_CREATE) != 0, removed = (event.mask & FAN_DELETE) != 0;
        // A creation and a removal of one name may come merged into one event: when the name
        // is there now, the creation came last.
        const bool createdLast = created && removed && Exists(path);
        if (removed && createdLast) Removed(path, folder, pid, report, changes);
        if (created) Created(path, folder, pid, report, changes);
        if (removed && !createdLast) Removed(path, folder, pid, report, changes);
    }
    // Every event raised while the folders marked before this read were read has come in.
    if (drained)
        for (auto it = m_fresh.begin(); it != m_fresh.end();)
            it = it->second.read < batch ? m_fresh.erase(it) : std::next(it);
}

void FanotifyTree::Appeared(const std::string& folder, uint32_t pid, bool report,
                            std::vector<EntryChange>& changes) {
    // Marked before it is read: what is put in it from now on raises events of its own.
    if (!MarkFolder(folder)) return;
    m_fresh[folder].read = m_reads;
    report = report && Watched(folder);
    if (report) changes.push_back({EntryChange::Kind::kCreated, pid, folder, {}, true});
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const fs::file_type type = it->symlink_status(ec).type();
        const std::string path = it->path().string();
        if (type == fs::file_type::directory) {
            Appeared(path, pid, report, changes);
        } else if (report && type == fs::file_type::regular) {
            changes.push_back({EntryChange::Kind::kCreated, pid, path, {}, false});
        } else {
            continue;
        }
        Tell(path);
        if (report) m_listed.insert(path);
    }
}

void FanotifyTree::Created(const std::string& path, bool folder, uint32_t pid, bool report,
                           std::vector<EntryChange>& changes) {
    Tell(path);
    if (m_listed.erase(path) != 0) return;  // reported when its folder was read
    if (folder) Appeared(path, pid, report, changes);
    else if (report && Watched(path)) changes.push_back({EntryChange::Kind::kCreated, pid, path, {}, false});
}

void FanotifyTree::Removed(const std::string& path, bool folder, uint32_t pid, bool report,
                           std::vector<EntryChange>& changes) {
    m_listed.erase(path);
    if (folder) Forget(path);
    if (!report || !Watched(path)) return;
    // Made in a fresh folder before its mark and removed before it was read: no event named
    // its maker. It held nothing that was there before the folder (a move in is seen where it
    // left), so it is told as made by its remover, like a temporary made and removed at once.
    if (!folder && Tell(path)) changes.push_back({EntryChange::Kind::kCreated, pid, path, {}, false});
    changes.push_back({EntryChange::Kind::kRemoved, pid, path, {}, folder});
}

bool FanotifyTree::Tell(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    const auto fresh = m_fresh.find(path.substr(0, slash));
    return fresh != m_fresh.end() && fresh->second.told.insert(path.substr(slash + 1)).second;
}

void FanotifyTree::Forget(const std::string& folder) {
    for (auto it = m_paths.begin(); it != m_paths.end();)
        it = PathWithin(it->second, folder) ? m_paths.erase(it) : std::next(it);
    for (auto it = m_listed.begin(); it != m_listed.end();)
        it = PathWithin(*it, folder) ? m_listed.erase(it) : std::next(it);
    for (auto it = m_fresh.begin(); it != m_fresh.end();)
        it = PathWithin(it->first, folder) ? m_fresh.erase(it) : std::next(it);
}

void FanotifyTree::Renamed(const std::string& from, std::string to, bool folder, uint32_t pid,
                           bool report, std::vector<EntryChange>& changes) {
    if (folder && to.empty()) {
        // Moved out: fanotify names only the marked side of a move, but the folder's handle
        // still opens it where it went, to be read and have its marks taken off.
        for (const auto& known : m_paths)
            if (known.second == from) to = PathNow(known.first);
    }
    const bool fromWatched = !from.empty() && Watched(from), toWatched = !to.empty() && Watched(to);
    const bool toMarked = toWatched || (!to.empty() && Guarded(to));
    m_listed.erase(to);
    if (!folder) {
        m_listed.erase(from);
        Tell(to);
        if (!report) return;
        if (fromWatched && toWatched)
            changes.push_back({EntryChange::Kind::kRenamed, pid, from, to, false});
        else if (fromWatched)
            changes.push_back({EntryChange::Kind::kRemoved, pid, from, {}, false});
        else if (toWatched)
            changes.push_back({EntryChange::Kind::kCreated, pid, to, {}, false});
        return;
    }
    if (!from.empty() && !to.empty()) {
        // The marks stay on the folders; the paths kept for their handles follow them.
        for (auto& known : m_paths)
            if (PathWithin(known.second, from)) known.second = to + known.second.substr(from.size());
    }
    if (!from.empty()) Forget(from);  // what is left under the old path
    const Listing listing = to.empty() || (!fromWatched && toMarked) ? Listing() : List(to);
    const auto formerly = [&](const std::string& path) { return from + path.substr(to.size()); };
    if (!toMarked && !to.empty()) {  // moved out of everything marked: its marks go
        UnmarkFolder(to);
        for (const std::string& below : listing.folders) UnmarkFolder(below);
        Forget(to);
    }
    if (!fromWatched) {  // moved in: as if it were created there
        if (toMarked) Appeared(to, pid, report, changes);
        return;
    }
    if (!report) return;
    if (toWatched) {
        changes.push_back({EntryChange::Kind::kRenamed, pid, from, to, true});
        for (const std::string& file : listing.files)
            changes.push_back({EntryChange::Kind::kRenamed, pid, formerly(file), file, false});
        return;
    }
    for (const std::string& file : listing.files)
        changes.push_back({EntryChange::Kind::kRemoved, pid, formerly(file), {}, false});
    changes.push_back({EntryChange::Kind::kRemoved, pid, from, {}, true});
}

bool FanotifyTree::Guard(const std::string& folder, bool protect, std::string& why) {
    std::error_code ec;
    const std::string canonical = fs::weakly_canonical(folder, ec).string();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_entryGroup < 0) return why = "the fanotify source is not started", false;
    std::vector<std::string> folders = List(canonical).folders;
    folders.insert(folders.begin(), canonical);
    if (!protect) {
        m_guarded.erase(std::remove(m_guarded.begin(), m_guarded.end(), canonical), m_guarded.end());
        for (const std::string& below : folders)
            if (!Watched(below) && !Guarded(below)) UnmarkFolder(below);
        return true;
    }
    m_guarded.push_back(canonical);
    for (const std::string& below : folders) {
        if (MarkFolder(below)) continue;
        why = "fanotify cannot mark " + below + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

}  // namespace pellumhost
