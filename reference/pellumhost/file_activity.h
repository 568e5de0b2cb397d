// The service's source of file activity under a watched folder. On Linux with the privilege it
// is fanotify: an open by another process waits (bounded) while onOpen runs, so a version is
// taken before the process can write, then the open is allowed; a finished write is reported
// to onWritten with the bytes written at the file's start. The service's own process is never
// held. Callbacks run on the source's worker thread, one at a time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pellumhost {

struct FileActivityCallbacks {
    std::function<void(uint32_t processId, const std::string& path)> onOpen;
    std::function<void(uint32_t processId, const std::string& path,
                       const std::vector<uint8_t>& head)> onWritten;
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
};

// The best source the platform offers; null when there is none.
std::unique_ptr<FileActivitySource> MakeFileActivitySource();

// The image path of a process, empty when unknown.
std::string ProcessImage(uint32_t processId);

}  // namespace pellumhost
