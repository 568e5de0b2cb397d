// File operations through the Windows calls the system names for each.
#include "platform/file_ops.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle OpenAlways(const char16_t* path, bool* existed) {
    if (path == nullptr) return kInvalidFile;
    HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE,
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

bool SeekToEnd(FileHandle file) {
    return SetFilePointer(AsHandle(file), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
}

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
