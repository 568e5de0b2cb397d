// Whole-file work for a store that must survive a crash: reading, writing that reaches the
// disk, sharing blocks between files, replacing one file by another, an exclusive lock on a
// folder, and listing a folder. Every call is safe from any thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_ops.h"

namespace platform {

// Who owns a file and how it may be used, as a restore should put it back. Linux: owner and
// group ids and the permission bits (07777); Windows: mode holds the file attributes that a
// restore keeps (read-only, hidden, system, archive), owner and group are 0.
struct FileOwnership {
    uint32_t owner = 0;
    uint32_t group = 0;
    uint32_t mode = 0;
};

// Why the calling thread's last file call failed, as far as a message needs to tell;
// kUnsupported: the file system cannot do it at all (a block clone on ext4), so a caller may
// stop asking.
enum class FileFailure : uint32_t { kOther, kMissing, kDenied, kDiskFull, kUnsupported };
FileFailure LastFileFailure();

// Opens an existing file for reading, shared with writers and deleters; kInvalidFile on failure.
FileHandle OpenForReading(const char16_t* path);
// Creates a file, or empties an existing one, for writing; kInvalidFile on failure.
FileHandle CreateForWriting(const char16_t* path);
// Reads up to capacity bytes at the current position; *got is 0 at the end of the file.
bool ReadSome(FileHandle file, void* buffer, uint32_t capacity, uint32_t* got);
// Writes all bytes at the current position; false when not all were written (a full disk).
bool WriteAll(FileHandle file, const void* bytes, uint32_t count);
// Pushes what was written to the disk itself (fsync / FlushFileBuffers).
bool FlushToDisk(FileHandle file);
// Pushes a closed file's content to the disk.
bool FlushFileByPath(const char16_t* path);
// Pushes everything written to the file system that holds path to the disk in one call
// (syncfs on Linux); false where the system has none (Windows), and callers flush file by file.
bool FlushFileSystem(const char16_t* path);
bool FileSize(FileHandle file, uint64_t* size);
// The ownership of an open file (fstat; GetFileInformationByHandle).
bool ReadOwnership(FileHandle file, FileOwnership* ownership);
// Gives an open file that ownership (fchown then fchmod; the attributes on Windows). Owner and
// group are set only where this process may (as root); the mode always.
bool ApplyOwnership(FileHandle file, const FileOwnership& ownership);
void CloseFile(FileHandle file);
// Makes target share source's blocks (FICLONE on btrfs and XFS); false where the file system
// cannot (LastFileFailure then tells kUnsupported), and always on Windows. The target must be
// empty and open for writing.
bool CloneFileBlocks(FileHandle source, FileHandle target);
// Copies the rest of source into target inside the kernel (copy_file_range on Linux); false,
// with nothing copied, where the system cannot (always on Windows, where callers read and
// write instead). *copied counts the bytes copied.
bool CopyFileData(FileHandle source, FileHandle target, uint64_t* copied);
// Replaces to by from in one step, then makes the new name durable (the folder is flushed on
// Linux; MOVEFILE_WRITE_THROUGH on Windows).
bool ReplaceFileDurably(const char16_t* from, const char16_t* to);
bool RemoveFile(const char16_t* path);
// Gives an existing file a second name in the same file system (a hard link); false where the
// system cannot, or name exists.
bool LinkFile(const char16_t* existing, const char16_t* name);
// Holds path open and locked against every other holder, in this process or another; the
// system releases it when the holder dies. kInvalidFile when someone else holds it (then
// *heldElsewhere, when given, is true) or the file cannot be opened.
FileHandle LockExclusively(const char16_t* path, bool* heldElsewhere = nullptr);
void ReleaseLock(FileHandle lock);
// The names (not paths) of the plain files in folder; false when it cannot be read.
bool ListFiles(const char16_t* folder, std::vector<std::u16string>& names);
bool IsFolder(const char16_t* path);
// Takes from a folder every permission of its group and of others (chmod 0700) when it has
// any; *changed tells whether it had. True on Windows, where the folder's ACL decides.
bool MakeFolderPrivate(const char16_t* folder, bool* changed);
// Size and last-write time (platform units) of a file, to tell whether it changed.
bool FileStamp(const char16_t* path, uint64_t* size, uint64_t* writeTime);
// Gives target the permission bits (Linux) or attributes (Windows) of source.
bool CopyFileAttributes(const char16_t* source, const char16_t* target);
// Lets a file be replaced or removed: clears its read-only attribute on Windows, which refuses
// both for a read-only file; true on Linux, where the folder's permissions decide.
bool ClearReadOnly(const char16_t* path);
// The form of a path that the file calls take at any length: on Windows an absolute path of
// 260 units or more gets the prefix that lifts the 259-unit limit ("\\?\", or "\\?\UNC\"
// for a share); a shorter or relative path, and every path on Linux, is given back unchanged.
std::u16string LongPathForm(const char16_t* path);

}  // namespace platform
