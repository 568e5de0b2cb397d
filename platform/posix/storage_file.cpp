// Whole-file work through POSIX calls, with FICLONE where the file system shares blocks.
#include "platform/storage_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {
namespace {

int Fd(FileHandle file) { return static_cast<int>(file); }

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileHandle OpenForReading(const char16_t* path) {
    if (path == nullptr) return kInvalidFile;
    const int fd = open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kInvalidFile;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return kInvalidFile;
    }
    return fd;
}

FileHandle CreateForWriting(const char16_t* path) {
    if (path == nullptr) return kInvalidFile;
    const int fd = open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? kInvalidFile : fd;
}

bool ReadSome(FileHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    for (;;) {
        const ssize_t count = read(Fd(file), buffer, capacity);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        *got = static_cast<uint32_t>(count);
        return true;
    }
}

bool WriteAll(FileHandle file, const void* bytes, uint32_t count) {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = write(Fd(file), next, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        count -= static_cast<uint32_t>(written);
    }
    return true;
}

bool FlushToDisk(FileHandle file) { return fsync(Fd(file)) == 0; }

bool FlushFileByPath(const char16_t* path) {
    if (path == nullptr) return false;
    const int fd = open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = fsync(fd) == 0;
    close(fd);
    return flushed;
}

FileFailure LastFileFailure() {
    switch (errno) {
        case ENOENT:
        case ENOTDIR: return FileFailure::kMissing;
        case EACCES:
        case EPERM:
        case EROFS: return FileFailure::kDenied;
        case ENOSPC:
        case EDQUOT: return FileFailure::kDiskFull;
        case EOPNOTSUPP:
        case ENOTTY: return FileFailure::kUnsupported;
        default: return FileFailure::kOther;
    }
}

bool FlushFileSystem(const char16_t* path) {
    if (path == nullptr) return false;
    const int fd = open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = syncfs(fd) == 0;
    close(fd);
    return flushed;
}

bool FileSize(FileHandle file, uint64_t* size) {
    struct stat info {};
    if (fstat(Fd(file), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) close(Fd(file));
}

bool CloneFileBlocks(FileHandle source, FileHandle target) {
    return ioctl(Fd(target), FICLONE, Fd(source)) == 0;
}

bool CopyFileData(FileHandle source, FileHandle target, uint64_t* copied) {
    *copied = 0;
    for (;;) {
        const ssize_t count =
            copy_file_range(Fd(source), nullptr, Fd(target), nullptr, size_t{1} << 30, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        if (count == 0) return true;
        *copied += static_cast<uint64_t>(count);
    }
}

bool ReplaceFileDurably(const char16_t* from, const char16_t* to) {
    if (from == nullptr || to == nullptr) return false;
    const std::string target = ToUtf8(to);
    if (rename(ToUtf8(from).c_str(), target.c_str()) != 0) return false;
    const int folder = open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool flushed = fsync(folder) == 0;
    close(folder);
    return flushed;
}

bool RemoveFile(const char16_t* path) {
    return path != nullptr && unlink(ToUtf8(path).c_str()) == 0;
}

bool LinkFile(const char16_t* existing, const char16_t* name) {
    return existing != nullptr && name != nullptr &&
           link(ToUtf8(existing).c_str(), ToUtf8(name).c_str()) == 0;
}

FileHandle LockExclusively(const char16_t* path, bool* heldElsewhere) {
    if (heldElsewhere != nullptr) *heldElsewhere = false;
    if (path == nullptr) return kInvalidFile;
    const int fd = open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidFile;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (heldElsewhere != nullptr) *heldElsewhere = errno == EWOULDBLOCK;
        close(fd);
        return kInvalidFile;
    }
    return fd;
}

void ReleaseLock(FileHandle lock) {
    if (lock == kInvalidFile) return;
    flock(Fd(lock), LOCK_UN);
    close(Fd(lock));
}

bool ListFiles(const char16_t* folder, std::vector<std::u16string>& names) {
    if (folder == nullptr) return false;
    const std::string base = ToUtf8(folder);
    DIR* listing = opendir(base.c_str());
    if (listing == nullptr) return false;
    while (const dirent* entry = readdir(listing)) {
        struct stat info {};
        const std::string full = base + "/" + entry->d_name;
        if (stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.push_back(FromUtf8(entry->d_name));
    }
    closedir(listing);
    return true;
}

bool IsFolder(const char16_t* path) {
    struct stat info {};
    return path != nullptr && stat(ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolderPrivate(const char16_t* folder, bool* changed) {
    *changed = false;
    struct stat info {};
    if (folder == nullptr || stat(ToUtf8(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if ((info.st_mode & 077) == 0) return true;
    *changed = true;
    return chmod(ToUtf8(folder).c_str(), info.st_mode & 07700) == 0;
}

bool FileStamp(const char16_t* path, uint64_t* size, uint64_t* writeTime) {
    struct stat info {};
    if (path == nullptr || stat(ToUtf8(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    *size = static_cast<uint64_t>(info.st_size);
    *writeTime = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                 static_cast<uint64_t>(info.st_mtim.tv_nsec);
    return true;
}

bool CopyFileAttributes(const char16_t* source, const char16_t* target) {
    struct stat info {};
    if (source == nullptr || target == nullptr || stat(ToUtf8(source).c_str(), &info) != 0)
        return false;
    return chmod(ToUtf8(target).c_str(), info.st_mode & 07777) == 0;
}

bool ReadOwnership(FileHandle file, FileOwnership* ownership) {
    struct stat info {};
    if (ownership == nullptr || fstat(Fd(file), &info) != 0) return false;
    ownership->owner = info.st_uid;
    ownership->group = info.st_gid;
    ownership->mode = info.st_mode & 07777;
    return true;
}

bool ApplyOwnership(FileHandle file, const FileOwnership& ownership) {
    // The owner first: a change of owner clears the set-id bits, which the mode then restores.
    bool owned = true;
    if (geteuid() == 0) owned = fchown(Fd(file), ownership.owner, ownership.group) == 0;
    return fchmod(Fd(file), ownership.mode & 07777) == 0 && owned;
}

bool ClearReadOnly(const char16_t* path) { return path != nullptr; }

std::u16string LongPathForm(const char16_t* path) { return path == nullptr ? u"" : path; }

}  // namespace platform
