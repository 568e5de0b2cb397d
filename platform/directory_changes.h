// A reader of the changes under a folder and every folder below it: files and folders created
// (or moved in), files written, files and folders removed (or moved out) and renamed inside the
// tree, and the moments the system lost count of them. Windows reads with ReadDirectoryChangesW
// over the whole tree; Linux watches every folder with inotify, a folder that appears later as
// it appears. A folder that appears with something in it (moved in, or filled before its watch)
// is followed by what it holds, each as created; what is also told by its own event may come
// twice. Neither tells who made a change. One thread reads; Wake may be called from any other.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class ChangeAction : uint8_t {
    kCreated,    // a file or a folder created or moved in
    kWritten,    // a file written (Windows: while it is written, often more than once)
    kRemoved,    // deleted or moved out of the tree: a file, or a folder with what it held
    kRenamed,    // renamed inside the tree, from `from` to `path` (a file or a folder)
    kUnwatched,  // the folder `path` below the watched one cannot be watched: its changes are lost
};

struct DirectoryChange {
    ChangeAction action;
    std::u16string path;  // full path
    std::u16string from;  // kRenamed: the former full path
};

enum class ChangesRead : uint8_t {
    kChanges,   // changes holds what happened
    kTimeout,   // nothing happened within the wait
    kOverflow,  // too much happened at once: changes holds what is known, the rest is lost
    kGone,      // the watched folder is gone or cannot be read any more (said once; nothing follows)
    kWoken,     // Wake was called
};

class DirectoryChanges {
public:
    DirectoryChanges();
    ~DirectoryChanges();
    DirectoryChanges(const DirectoryChanges&) = delete;
    DirectoryChanges& operator=(const DirectoryChanges&) = delete;

    // Starts watching folder and everything below it; false with the reason in error.
    bool Open(const std::u16string& folder, std::string& error);
    // Waits at most timeoutMs for changes and appends them to changes, in the order they
    // happened. A pending Wake makes it return kWoken at once.
    ChangesRead Read(uint32_t timeoutMs, std::vector<DirectoryChange>& changes);
    // Makes the reader's Read (the current one, or else the next) return kWoken.
    void Wake();
    // Stops watching; the reader must have left Read.
    void Close();

    // The separator of the paths the reader gives.
    static char16_t Separator();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace platform
