// The service's source of file activity under a watched folder and every folder below it,
// those created later included. A before-write source (fanotify on Linux with the privilege)
// holds an open by another process (bounded) while onOpen runs, so a version is taken before
// the process can write, then allows the open. An after-the-fact source (the platform's
// directory change reader: inotify on Linux, ReadDirectoryChangesW on Windows) learns of a
// change only once it is written and never calls onOpen. Both report a finished write to
// onWritten with the bytes at the file's start, a file or folder created to onCreated, one
// removed (or moved out of the watched folder) to onRemoved, and one renamed inside it to
// onRenamed, each with the process that did it, 0 when the platform does not tell. A folder
// renamed is reported once as a folder, then once for each file below it (from its old path
// to its new one); a folder removed is reported after the files in it. When the system loses
// count of the changes the source reads the folder again and reports what differs from what it
// saw last. The service's own process is never held. Callbacks run on the source's worker
// thread, one at a time; an empty one is skipped.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/process_image.h"

namespace pellumhost {

// A file's start as a before-write source read it through the open it holds, which raises no
// event of its own for the service to answer while the writer waits.
struct FileStart {
    uint64_t size = 0;
    std::vector<uint8_t> head;  // the first bytes, up to 4 KiB
};

struct FileActivityCallbacks {
    // start: null when the source could not read the file.
    std::function<void(uint32_t processId, const std::string& path, const FileStart* start)> onOpen;
    std::function<void(uint32_t processId, const std::string& path,
                       const std::vector<uint8_t>& head)> onWritten;
    std::function<void(uint32_t processId, const std::string& path, bool folder)> onCreated;
    std::function<void(uint32_t processId, const std::string& path, bool folder)> onRemoved;
    std::function<void(uint32_t processId, const std::string& from, const std::string& to,
                       bool folder)>
        onRenamed;
    std::function<void(const std::string& line)> log;
};

class FileActivitySource {
public:
    virtual ~FileActivitySource() = default;
    // "before-write" or "after-the-fact".
    virtual const char* Kind() const = 0;
    virtual bool Start(const std::string& folder, FileActivityCallbacks callbacks,
                       std::string& error) = 0;
    virtual void Stop() = 0;
    // How long each held open waited, from the event's read to its answer, in microseconds
    // (empty for a source that holds nothing). Read after Stop.
    virtual std::vector<double> HoldMicroseconds() const { return {}; }
    // Refuses (protect) every open by another process of a file in folder or its sub-folders,
    // or stops refusing; false with the reason where the source cannot. Works once started.
    virtual bool Guard(const std::string& /*folder*/, bool /*protect*/, std::string& why) {
        why = std::string("the ") + Kind() + " source cannot refuse opens";
        return false;
    }
    // Paths inside a guarded folder that other processes may still open: files, or folders
    // with everything below them (the host's own files meant for others: the stop request,
    // the configuration file, the logs). Replaces the paths given before.
    virtual void LetOthersOpen(const std::vector<std::string>& /*paths*/) {}
};

// The platform's source of each kind; null when the platform has none in this host.
std::unique_ptr<FileActivitySource> MakeBeforeWriteSource();
std::unique_ptr<FileActivitySource> MakeAfterTheFactSource();

// The best source the platform offers (before-write when it has one); null when none.
std::unique_ptr<FileActivitySource> MakeFileActivitySource();

// Which source a service asks for: the best that starts, or one kind only.
enum class SourceChoice { kBest, kBeforeWrite, kAfterTheFact };

// "before-write", "after-the-fact" or "best"; false for anything else.
bool ParseSourceChoice(const std::string& text, SourceChoice& choice);

// Starts a source of the chosen kind on folder. kBest falls back to the after-the-fact source
// when the before-write one cannot start (fanotify without root), and says why in note. Null
// with the reason in error when no source starts.
std::unique_ptr<FileActivitySource> StartFileActivitySource(SourceChoice choice,
                                                            const std::string& folder,
                                                            const FileActivityCallbacks& callbacks,
                                                            std::string& note, std::string& error);

}  // namespace pellumhost
