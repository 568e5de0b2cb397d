// The service's durable change journal ("changes.log" in the database folder): every change a
// file activity source reports (a file written, a file or folder created, removed or renamed),
// with its time in milliseconds, the process that made it (0 when not known) and that process's
// image. A rollback reads it to bring back files deleted or renamed away since a time, to move
// renamed folders back and to tell the files a writer created from those it changed. Records
// are framed as the store's edition log frames its own (a length, a CRC-32C, the payload), so a
// crash costs at most the record being written. Append is safe from any thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "reference/zef/file_table.h"

namespace pellumhost {

// kBackedUp: the host's own backup of a file returned (its edition holds what the file held
// before this moment), which tells a copy taken in the same second as a change from the change.
enum class ChangeKind : uint32_t { kWritten = 1, kCreated = 2, kRemoved = 3, kRenamed = 4, kBackedUp = 5 };

struct ChangeEntry {
    uint64_t unixMs = 0;
    ChangeKind kind = ChangeKind::kWritten;
    bool folder = false;
    uint32_t processId = 0;
    std::u16string image;  // empty when not known
    std::u16string path;   // for a rename, the old path
    std::u16string to;     // for a rename, the new path
};

// The journal's file in a database folder.
std::u16string ChangeLogPath(const std::u16string& dbFolder);

// The bytes of one framed record, and the entry of one payload (false when malformed).
std::vector<uint8_t> EncodeChange(const ChangeEntry& entry);
bool DecodeChange(const uint8_t* payload, size_t size, ChangeEntry& entry);

// Reads the journal of dbFolder in the order written. A missing journal is an empty one. A torn
// last record is left out; damage in the middle keeps the records before it and says where in
// note. False (with note) only when the file exists and cannot be read at all.
bool ReadChangeLog(const std::u16string& dbFolder, std::vector<ChangeEntry>& entries,
                   std::string& note, const zef::FileTable& files = zef::SystemFileTable());

class ChangeLog {
public:
    explicit ChangeLog(const zef::FileTable& files = zef::SystemFileTable()) : m_files(files) {}
    ~ChangeLog() { Close(); }
    ChangeLog(const ChangeLog&) = delete;
    ChangeLog& operator=(const ChangeLog&) = delete;

    // Opens dbFolder's journal for appending. A torn or damaged tail is cut away first (the good
    // records are written anew and replace the file), and a journal above the size bound keeps
    // its newest half, so that appends always follow good records. False with the reason.
    bool Open(const std::u16string& dbFolder, std::string& error);
    // Appends one entry; it reaches the disk with the next flush (at most a second later, or at
    // Close). False when it could not be written (the journal then stops, once, with a log line).
    bool Append(const ChangeEntry& entry);
    // Pushes appends older than a second to the disk; the service calls it while it idles.
    void FlushDue();
    void Close();
    bool IsOpen() const;

private:
    void FlushLocked(bool now);

    const zef::FileTable& m_files;
    mutable std::mutex m_lock;
    zef::FileHandle m_file = zef::kInvalidFile;
    std::u16string m_path;
    uint64_t m_lastFlushMs = 0;
    bool m_dirty = false;
};

// Milliseconds since 1970 now, as journal entries carry them.
uint64_t UnixMilliseconds();

}  // namespace pellumhost
