// Folders reached without reparse points: every part of the path is opened with
// FILE_FLAG_OPEN_REPARSE_POINT, refused when it is one, and held open without FILE_SHARE_DELETE
// so that nobody can rename or replace it while the folder is in use. Files in the folder are
// then named by full path under those held parts: created with CREATE_NEW, opened without
// following a reparse point, renamed with MoveFileExW (which replaces a link, never follows it).
#include "platform/anchored_files.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace platform {
namespace {

struct HeldFolder {
    std::vector<HANDLE> parts;  // from the first part below the root to the folder itself
    std::u16string path;        // full, without a trailing separator (but "C:\" for a root)
};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
HeldFolder* Held(FolderHandle folder) { return reinterpret_cast<HeldFolder*>(folder); }
FileHandle FromHandle(HANDLE file) {
    return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

std::u16string Inside(const HeldFolder& folder, const char16_t* name) {
    std::u16string path = folder.path;
    if (path.empty() || path.back() != u'\\') path += u'\\';
    return LongPathForm((path + name).c_str());
}

FolderRefusal RefusalOf(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderRefusal::kMissing
                                                                           : FolderRefusal::kDenied;
}

}  // namespace

OpenedFolder OpenFolderWithoutLinks(const char16_t* path) {
    OpenedFolder opened;
    if (path == nullptr || *path == u'\0') {
        opened.refusal = FolderRefusal::kMissing;
        return opened;
    }
    wchar_t fullBuffer[32768];
    const DWORD units = GetFullPathNameW(reinterpret_cast<const wchar_t*>(path), 32768, fullBuffer, nullptr);
    if (units == 0 || units >= 32768) {
        opened.refusal = FolderRefusal::kMissing;
        return opened;
    }
    std::u16string full(reinterpret_cast<const char16_t*>(fullBuffer), units);
    for (char16_t& unit : full)
        if (unit == u'/') unit = u'\\';
    while (full.size() > 3 && full.back() == u'\\') full.pop_back();
    auto held = std::make_unique<HeldFolder>();
    held->path = full;
    // The root ("C:\", or "\\server\share\") is taken as it is; every part below it is checked.
    size_t start = full.rfind(u"\\\\", 0) == 0 ? full.find(u'\\', full.find(u'\\', 2) + 1)
                                              : full.find(u'\\');
    while (start != std::u16string::npos && start + 1 < full.size()) {
        const size_t end = full.find(u'\\', start + 1);
        const std::u16string part = full.substr(0, end);
        const std::u16string longPart = LongPathForm(part.c_str());
        const HANDLE handle = CreateFileW(
            Wide(longPart), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
            opened.refusal = RefusalOf(GetLastError());
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            opened.refusal = FolderRefusal::kLink;
            CloseHandle(handle);
        } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            opened.refusal = FolderRefusal::kNotFolder;
            CloseHandle(handle);
        }
        if (opened.refusal != FolderRefusal::kNone) {
            opened.where = part;
            for (HANDLE h : held->parts) CloseHandle(h);
            return opened;
        }
        held->parts.push_back(handle);
        start = end;
    }
    opened.folder = reinterpret_cast<FolderHandle>(held.release());
    return opened;
}

void CloseFolder(FolderHandle folder) {
    if (folder == kInvalidFolder) return;
    HeldFolder* held = Held(folder);
    for (HANDLE h : held->parts) CloseHandle(h);
    delete held;
}

FileHandle CreateNewFileIn(FolderHandle folder, const char16_t* prefix, const char16_t* suffix,
                           std::u16string* name) {
    if (folder == kInvalidFolder || prefix == nullptr || suffix == nullptr) return kInvalidFile;
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned long long random = 0;
        if (!RtlGenRandom(&random, sizeof random)) return kInvalidFile;
        char digits[17];
        std::snprintf(digits, sizeof digits, "%016llx", random);
        std::u16string chosen = prefix;
        for (const char* d = digits; *d != '\0'; ++d) chosen += static_cast<char16_t>(*d);
        chosen += suffix;
        const HANDLE file = CreateFileW(Wide(Inside(*Held(folder), chosen.c_str())),
                                        GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (name != nullptr) *name = chosen;
            return FromHandle(file);
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return kInvalidFile;
    }
    return kInvalidFile;
}

FileHandle OpenFileInFolder(FolderHandle folder, const char16_t* name, bool* isLink) {
    if (isLink != nullptr) *isLink = false;
    if (folder == kInvalidFolder || name == nullptr) return kInvalidFile;
    const HANDLE file = CreateFileW(Wide(Inside(*Held(folder), name)), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        if (isLink != nullptr) *isLink = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseHandle(file);
        return kInvalidFile;
    }
    return FromHandle(file);
}

bool ReadOwnershipInFolder(FolderHandle folder, const char16_t* name, FileOwnership* ownership) {
    if (folder == kInvalidFolder || name == nullptr || ownership == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(Wide(Inside(*Held(folder), name)));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    *ownership = FileOwnership{};
    ownership->mode = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

bool RenameInFolder(FolderHandle folder, const char16_t* from, const char16_t* to) {
    if (folder == kInvalidFolder || from == nullptr || to == nullptr) return false;
    const std::u16string target = Inside(*Held(folder), to);
    // Windows replaces no read-only file: the target loses the attribute for the rename and
    // gets it back should the rename fail.
    const DWORD attributes = GetFileAttributesW(Wide(target));
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(Wide(target), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (MoveFileExW(Wide(Inside(*Held(folder), from)), Wide(target), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (readOnly) SetFileAttributesW(Wide(target), attributes);
    return false;
}

bool RemoveFromFolder(FolderHandle folder, const char16_t* name) {
    return folder != kInvalidFolder && name != nullptr &&
           DeleteFileW(Wide(Inside(*Held(folder), name))) != 0;
}

bool CreateFolderIn(FolderHandle folder, const char16_t* name) {
    // A new folder inherits the access rules of the folder that holds it.
    return folder != kInvalidFolder && name != nullptr &&
           CreateDirectoryW(Wide(Inside(*Held(folder), name)), nullptr) != 0;
}

bool MoveBetweenFolders(FolderHandle from, const char16_t* name, FolderHandle to,
                        const char16_t* newName) {
    if (from == kInvalidFolder || to == kInvalidFolder || name == nullptr || newName == nullptr)
        return false;
    return MoveFileExW(Wide(Inside(*Held(from), name)), Wide(Inside(*Held(to), newName)), 0) != 0;
}

FileHandle OpenForReadingWithoutLinks(const char16_t* path, bool* isLink) {
    if (isLink != nullptr) *isLink = false;
    if (path == nullptr) return kInvalidFile;
    const std::u16string full(path);
    const size_t cut = full.find_last_of(u"\\/");
    const std::u16string folderPath = cut == std::u16string::npos ? u"." : full.substr(0, cut + 1);
    const OpenedFolder folder = OpenFolderWithoutLinks(folderPath.c_str());
    if (folder.folder == kInvalidFolder) {
        if (isLink != nullptr) *isLink = folder.refusal == FolderRefusal::kLink;
        return kInvalidFile;
    }
    const FileHandle file = OpenFileInFolder(
        folder.folder, full.substr(cut == std::u16string::npos ? 0 : cut + 1).c_str(), isLink);
    CloseFolder(folder.folder);
    return file;
}

}  // namespace platform
