// The folders a fanotify source watches, as a second fanotify group (a notification group that
// names each change by its folder's file handle and the entry's name) tells of entries created,
// removed and renamed in them. A folder created or moved in is marked in both groups (the
// source's permission group too, so that opens in it are held) and then read, so that what was
// put in it before the mark is still reported (with the process that made the folder, since no
// event names the one that filled it); a folder removed or moved out is forgotten. The
// handle of every marked folder is kept with its path, so that a change in a folder removed
// since (rm -r) or renamed since still names the path it had; a handle never seen is opened to
// learn its path. Linux-only: built with the fanotify source.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pellumhost {

// path is folder itself or lies below it.
bool PathWithin(const std::string& path, const std::string& folder);
// The path an open descriptor names; empty when it cannot be read.
std::string DescriptorPath(int fd);

// One change under the watched folder, as the source reports it.
struct EntryChange {
    enum class Kind : uint8_t { kCreated, kRemoved, kRenamed };
    Kind kind;
    uint32_t processId;
    std::string path;  // kRenamed: the former path
    std::string to;    // kRenamed: the new path
    bool folder;
};

class FanotifyTree {
public:
    FanotifyTree() = default;
    ~FanotifyTree();
    FanotifyTree(const FanotifyTree&) = delete;
    FanotifyTree& operator=(const FanotifyTree&) = delete;

    // Starts the entry group and marks root and every folder below it in both groups
    // (openGroup, the caller's permission group, with what the source watches there). Returns
    // the canonical root, empty with the reason in error.
    std::string Start(int openGroup, const std::string& root, std::string& error);
    // The entry group's descriptor, to poll; -1 when not started.
    int Descriptor() const { return m_entryGroup; }
    // Reads the events waiting, keeps the marks in step, and appends the changes made under the
    // root by processes other than self; what the log should say goes to notes.
    void Read(uint32_t self, std::vector<EntryChange>& changes, std::vector<std::string>& notes);
    // Marks (protect) folder and every folder below it, those created later included, so that
    // opens in it raise permission events, or takes those marks away outside the watched root.
    bool Guard(const std::string& folder, bool protect, std::string& why);
    void Stop();

private:
    struct Listing {
        std::vector<std::string> folders;  // below the folder listed, each before its content
        std::vector<std::string> files;
    };
    static Listing List(const std::string& folder);

    bool Watched(const std::string& path) const;
    bool Guarded(const std::string& path) const;
    bool MarkFolder(const std::string& folder);
    void UnmarkFolder(const std::string& folder);
    // Marks folder and the folders below it; with reports, reports each (and each file) created.
    void Appeared(const std::string& folder, uint32_t pid, bool report,
                  std::vector<EntryChange>& changes);
    void Created(const std::string& path, bool folder, uint32_t pid, bool report,
                 std::vector<EntryChange>& changes);
    void Removed(const std::string& path, bool folder, uint32_t pid, bool report,
                 std::vector<EntryChange>& changes);
    // A move: from is empty when it came from outside what is marked, to when it went there.
    void Renamed(const std::string& from, std::string to, bool folder, uint32_t pid, bool report,
                 std::vector<EntryChange>& changes);
    void Forget(const std::string& folder);
    // Notes that the entry at path was told of, when its folder is fresh; true when it had not
    // been told of before.
    bool Tell(const std::string& path);
    // The path of a folder by its handle: the one kept while it is marked, else where it is now.
    std::string PathOf(const std::string& handle) const;
    // Where the folder of a handle is now; empty when it is gone.
    std::string PathNow(const std::string& handle) const;

    int m_openGroup = -1;
    int m_entryGroup = -1;
    int m_rootFd = -1;  // the filesystem open_by_handle_at resolves handles on
    std::string m_root;
    mutable std::mutex m_lock;  // Read runs on the source's reader, Guard on any thread
    std::vector<std::string> m_guarded;
    std::map<std::string, std::string> m_paths;  // folder path by its handle (type and bytes)
    // Files reported created because a new folder was read: the event of their creation, when
    // it comes after the read, is not reported again.
    std::set<std::string> m_listed;
    // A folder made (or moved in) after its parent was marked, with the names in it the tree
    // has told of. A file can be made in it before its mark and removed before it is read: its
    // removal is the first the tree hears of it, and its creation is told first. The folder
    // stays fresh until a read finds the queue drained after the one during which it was read,
    // when every event raised meanwhile has come in.
    struct FreshFolder {
        uint64_t read;  // the read during which it was marked
        std::set<std::string> told;
    };
    std::map<std::string, FreshFolder> m_fresh;
    uint64_t m_reads = 0;
};

}  // namespace pellumhost
