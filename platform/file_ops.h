// The file operations that can fail, as one table of calls. Code that writes files takes a
// table, so that a test can hand it one whose rename or open fails, or a full disk.
#pragma once
#include <cstdint>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Results of CreateFolderTree.
constexpr uint32_t kFolderCreated = 0;
constexpr uint32_t kFolderExists = 183;  // ERROR_ALREADY_EXISTS

struct FileOps {
    // Opens a file for writing, creating it when missing (open-always), shared for reading,
    // writing and deleting. *existed tells whether it was there before. kInvalidFile on failure.
    // The handle appends: each write goes to the end of the file by itself.
    FileHandle (*openAlways)(const char16_t* path, bool* existed);
    // Writes all bytes at the current position; false when not all were written.
    bool (*write)(FileHandle file, const void* bytes, uint32_t count);
    // Moves the position to the end of the file (no system call for an appending handle).
    bool (*seekToEnd)(FileHandle file);
    // The file's size, low 32 bits.
    uint32_t (*sizeLow)(FileHandle file);
    void (*close)(FileHandle file);
    // Renames, replacing an existing target.
    bool (*moveReplacing)(const char16_t* from, const char16_t* to);
    bool (*remove)(const char16_t* path);
    // The absolute form of path into buffer (capacity units, terminated); returns the units
    // written without the terminator, or 0 on failure or when the buffer is too small.
    uint32_t (*fullPath)(const char16_t* path, char16_t* buffer, uint32_t capacity);
    // Creates a folder and every missing parent: kFolderCreated, kFolderExists or an error.
    uint32_t (*createFolderTree)(const char16_t* folder);
};

// The operating system's own calls.
const FileOps& SystemFileOps();

}  // namespace platform
