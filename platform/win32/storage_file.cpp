// Whole-file work through the Windows calls; Windows shares no blocks between files here.
#include "platform/storage_file.h"

#include <windows.h>

namespace platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
// The attributes that a file's ownership carries and a restore gives back.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle FromHandle(HANDLE file) {
    return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

}  // namespace

FileHandle OpenForReading(const char16_t* path) {
    if (path == nullptr) return kInvalidFile;
    return FromHandle(CreateFileW(Wide(path), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

FileHandle CreateForWriting(const char16_t* path) {
    if (path == nullptr) return kInvalidFile;
    return FromHandle(CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadSome(FileHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    DWORD count = 0;
    if (!ReadFile(AsHandle(file), buffer, capacity, &count, nullptr)) return false;
    *got = count;
    return true;
}

bool WriteAll(FileHandle file, const void* bytes, uint32_t count) {
    DWORD written = 0;
    return WriteFile(AsHandle(file), bytes, count, &written, nullptr) && written == count;
}

bool FlushToDisk(FileHandle file) { return FlushFileBuffers(AsHandle(file)) != 0; }

FileFailure LastFileFailure() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return FileFailure::kMissing;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION: return FileFailure::kDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return FileFailure::kDiskFull;
        case ERROR_NOT_SUPPORTED: return FileFailure::kUnsupported;
        default: return FileFailure::kOther;
    }
}

// Flushing a volume needs administrator rights: the caller flushes file by file instead.
bool FlushFileSystem(const char16_t*) { return false; }

bool FlushFileByPath(const char16_t* path) {
    if (path == nullptr) return false;
    HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

bool FileSize(FileHandle file, uint64_t* size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(AsHandle(file), &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(AsHandle(file));
}

bool CloneFileBlocks(FileHandle, FileHandle) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool CopyFileData(FileHandle, FileHandle, uint64_t* copied) {
    *copied = 0;
    return false;
}

bool ReplaceFileDurably(const char16_t* from, const char16_t* to) {
    if (from == nullptr || to == nullptr) return false;
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

bool RemoveFile(const char16_t* path) { return path != nullptr && DeleteFileW(Wide(path)) != 0; }

bool LinkFile(const char16_t* existing, const char16_t* name) {
    return existing != nullptr && name != nullptr &&
           CreateHardLinkW(Wide(name), Wide(existing), nullptr) != 0;
}

FileHandle LockExclusively(const char16_t* path, bool* heldElsewhere) {
    if (heldElsewhere != nullptr) *heldElsewhere = false;
    if (path == nullptr) return kInvalidFile;
    const HANDLE lock = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock == INVALID_HANDLE_VALUE && heldElsewhere != nullptr)
        *heldElsewhere = GetLastError() == ERROR_SHARING_VIOLATION;
    return FromHandle(lock);
}

void ReleaseLock(FileHandle lock) { CloseFile(lock); }

bool ListFiles(const char16_t* folder, std::vector<std::u16string>& names) {
    if (folder == nullptr) return false;
    const std::u16string pattern = std::u16string(folder) + u"\\*";
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW(Wide(pattern.c_str()), &entry);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back(reinterpret_cast<const char16_t*>(entry.cFileName));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return true;
}

bool IsFolder(const char16_t* path) {
    if (path == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolderPrivate(const char16_t*, bool* changed) {
    *changed = false;
    return true;
}

bool FileStamp(const char16_t* path, uint64_t* size, uint64_t* writeTime) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path == nullptr || !GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *writeTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
    return true;
}

bool CopyFileAttributes(const char16_t* source, const char16_t* target) {
    if (source == nullptr || target == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(Wide(source));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesW(Wide(target), attributes & kKeptAttributes) != 0;
}

bool ReadOwnership(FileHandle file, FileOwnership* ownership) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (ownership == nullptr || !GetFileInformationByHandle(AsHandle(file), &info)) return false;
    *ownership = FileOwnership{};
    ownership->mode = info.dwFileAttributes & kKeptAttributes;
    return true;
}

bool ApplyOwnership(FileHandle file, const FileOwnership& ownership) {
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(AsHandle(file), FileBasicInfo, &basic, sizeof basic))
        return false;
    basic.FileAttributes = (basic.FileAttributes & ~kKeptAttributes) | (ownership.mode & kKeptAttributes);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(AsHandle(file), FileBasicInfo, &basic, sizeof basic) != 0;
}

bool ClearReadOnly(const char16_t* path) {
    if (path == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
    return SetFileAttributesW(Wide(path), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

std::u16string LongPathForm(const char16_t* path) {
    if (path == nullptr) return {};
    std::u16string text(path);
    if (text.size() < MAX_PATH || text.rfind(u"\\\\?\\", 0) == 0) return text;
    // The prefix turns off the system's parsing: the separators must already be its own.
    for (char16_t& unit : text) {
        if (unit == u'/') unit = u'\\';
    }
    if (text.size() >= 3 && text[1] == u':' && text[2] == u'\\') return u"\\\\?\\" + text;
    if (text.rfind(u"\\\\", 0) == 0) return u"\\\\?\\UNC" + text.substr(1);
    return text;
}

}  // namespace platform
