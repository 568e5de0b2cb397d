// File operations through the Windows calls the system names for each.
#include "platform/file_ops.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Opened for appending only (FILE_APPEND_DATA without FILE_WRITE_DATA): the system puts every
// write at the end of the file, also after another writer's, in the write itself, as O_APPEND
// does on POSIX, so that moving to the end costs no call of its own. The attributes are read for
// the file's size.
FileHandle OpenAlways(const char16_t* path, bool* existed) {
    if (path == nullptr) return kInvalidFile;
    constexpr DWORD kAppending = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE file = CreateFileW(Wide(path), kAppending,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    if (existed != nullptr) *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return reinterpret_cast<FileHandle>(file);
}

bool Write(FileHandle file, const void* bytes, uint32_t count) {
    DWORD written = 0;
    return WriteFile(AsHandle(file), bytes, count, &written, nullptr) && written == count;
}

// Every handle that OpenAlways gives appends, so its next write goes to the end anyway.
bool SeekToEnd(FileHandle file) { return file != kInvalidFile; }

// A low word of all ones is also what the call answers on failure; only the last error tells
// them apart, so it is cleared first.
uint32_t SizeLow(FileHandle file) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD size = GetFileSize(AsHandle(file), &high);
    return size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : size;
}

void Close(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(AsHandle(file));
}

bool MoveReplacing(const char16_t* from, const char16_t* to) {
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Remove(const char16_t* path) { return DeleteFileW(Wide(path)) != 0; }

uint32_t FullPath(const char16_t* path, char16_t* buffer, uint32_t capacity) {
    if (path == nullptr || buffer == nullptr || capacity == 0) return 0;
    const DWORD length =
        GetFullPathNameW(Wide(path), capacity, reinterpret_cast<wchar_t*>(buffer), nullptr);
    return length < capacity ? length : 0;
}

uint32_t CreateFolderTree(const char16_t* folder) {
    const int result = SHCreateDirectoryExW(nullptr, Wide(folder), nullptr);
    return result == ERROR_SUCCESS ? kFolderCreated : static_cast<uint32_t>(result);
}

}  // namespace

const FileOps& SystemFileOps() {
    static const FileOps ops{OpenAlways, Write,         SeekToEnd, SizeLow,         Close,
                             MoveReplacing, Remove, FullPath, CreateFolderTree};
    return ops;
}

}  // namespace platform
