// The file operations of the engine's storage, as one table of calls. The storage reaches the
// disk only through a table, so that a test can fail a write half-way, a flush or a rename
// and then look at what a crash at that instant would have left behind.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "platform/storage_file.h"

namespace zef {

using platform::FileHandle;
using platform::kInvalidFile;

struct FileTable {
    // Opens a file of the store for reading.
    FileHandle (*openForReading)(const char16_t* path);
    // Opens a user's file for reading with no link on the way or at its end; *isLink tells
    // that a link was refused.
    FileHandle (*openSource)(const char16_t* path, bool* isLink);
    FileHandle (*createForWriting)(const char16_t* path);
    // Opens a file for writing at its end, creating it when missing; every write appends.
    FileHandle (*openForAppending)(const char16_t* path);
    bool (*read)(FileHandle file, void* buffer, uint32_t capacity, uint32_t* got);
    bool (*write)(FileHandle file, const void* bytes, uint32_t count);
    bool (*flush)(FileHandle file);
    // Pushes a closed file's content to the disk.
    bool (*flushPath)(const char16_t* path);
    // Pushes everything written to path's file system to the disk; false where it cannot.
    bool (*flushFileSystem)(const char16_t* path);
    bool (*size)(FileHandle file, uint64_t* size);
    void (*close)(FileHandle file);
    bool (*clone)(FileHandle source, FileHandle target);
    // Copies the rest of source inside the kernel; false, with nothing copied, where it cannot.
    bool (*copyData)(FileHandle source, FileHandle target, uint64_t* copied);
    // Replaces to by from in one step and makes the new name durable.
    bool (*replace)(const char16_t* from, const char16_t* to);
    // Replaces to by from in one step; the new name reaches the disk when the system pleases.
    bool (*rename)(const char16_t* from, const char16_t* to);
    bool (*remove)(const char16_t* path);
    uint32_t (*createFolderTree)(const char16_t* folder);
    bool (*listFiles)(const char16_t* folder, std::vector<std::u16string>& names);
    // Why the calling thread's last call of the table failed.
    platform::FileFailure (*lastFailure)();
    // Gives an existing file a second name (a hard link); false where the system cannot.
    bool (*link)(const char16_t* existing, const char16_t* name);
};

// The operating system's own calls.
const FileTable& SystemFileTable();

// Closes a file of a table when the scope ends.
class ScopedFile {
public:
    ScopedFile(const FileTable& files, FileHandle file) : m_files(files), m_file(file) {}
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    ~ScopedFile() { Close(); }
    FileHandle Get() const { return m_file; }
    bool IsOpen() const { return m_file != kInvalidFile; }
    void Close() {
        if (m_file != kInvalidFile) m_files.close(m_file);
        m_file = kInvalidFile;
    }

private:
    const FileTable& m_files;
    FileHandle m_file;
};

// Writes bytes as a whole new file: written, flushed, then renamed over path, so that path
// holds either its old content or all of the new one, whatever instant a crash comes. Without
// durable, nothing is flushed: a crash may then leave the old content or a torn one, which a
// sealed file tells apart.
bool WriteFileAtomically(const FileTable& files, const std::u16string& path,
                         const std::vector<uint8_t>& bytes, bool durable = true);
// Removes the plain files directly in folder.
void RemoveFilesIn(const FileTable& files, const std::u16string& folder);
// Reads a whole file of at most limit bytes; false when it cannot be read or is larger.
bool ReadWholeFile(const FileTable& files, const std::u16string& path, uint64_t limit,
                   std::vector<uint8_t>& bytes);

}  // namespace zef
