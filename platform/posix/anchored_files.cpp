// Folders reached without links through openat2, or a walk of O_NOFOLLOW opens where the
// system lacks or refuses openat2; files in them through the *at calls on the folder's handle.
#include "platform/anchored_files.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {
namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// Why the part name in at could not be opened as a folder, looked at without following it.
FolderRefusal RefusalOf(int at, const char* name, int openError) {
    struct stat info {};
    if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FolderRefusal::kMissing : FolderRefusal::kDenied;
    if (S_ISLNK(info.st_mode)) return FolderRefusal::kLink;
    if (!S_ISDIR(info.st_mode)) return FolderRefusal::kNotFolder;
    return openError == ENOENT ? FolderRefusal::kMissing : FolderRefusal::kDenied;
}

// Part by part from the root (or the current folder): each part opened with O_NOFOLLOW, so a
// link anywhere is refused, and named.
OpenedFolder Walk(const std::string& path) {
    OpenedFolder opened;
    const bool absolute = !path.empty() && path[0] == '/';
    int at = open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (at < 0) {
        opened.refusal = FolderRefusal::kDenied;
        opened.where = absolute ? u"/" : u".";
        return opened;
    }
    std::string walked = absolute ? "" : ".";
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        walked += "/" + part;
        const int next = openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            opened.refusal = RefusalOf(at, part.c_str(), errno);
            opened.where = FromUtf8(walked);
            close(at);
            return opened;
        }
        close(at);
        at = next;
    }
    opened.folder = at;
    return opened;
}

}  // namespace

OpenedFolder OpenFolderWithoutLinks(const char16_t* path) {
    if (path == nullptr || *path == u'\0') return {kInvalidFolder, FolderRefusal::kMissing, u""};
    const std::string name = ToUtf8(path);
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, name.c_str(), &how, sizeof how);
    if (fd >= 0) return {static_cast<FolderHandle>(fd), FolderRefusal::kNone, u""};
    // ELOOP names no part: the walk finds which one is the link. ENOSYS and EPERM (an older
    // kernel, a seccomp filter) leave the walk as the only way.
    return Walk(name);
}

void CloseFolder(FolderHandle folder) {
    if (folder != kInvalidFolder) close(Fd(folder));
}

FileHandle CreateNewFileIn(FolderHandle folder, const char16_t* prefix, const char16_t* suffix,
                           std::u16string* name) {
    if (folder == kInvalidFolder || prefix == nullptr || suffix == nullptr) return kInvalidFile;
    for (int attempt = 0; attempt < 8; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return kInvalidFile;
        char digits[17];
        snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random));
        const std::u16string chosen = prefix + FromUtf8(digits) + suffix;
        const int fd = openat(Fd(folder), ToUtf8(chosen.c_str()).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (name != nullptr) *name = chosen;
            return fd;
        }
        if (errno != EEXIST) return kInvalidFile;
    }
    return kInvalidFile;
}

FileHandle OpenFileInFolder(FolderHandle folder, const char16_t* name, bool* isLink) {
    if (isLink != nullptr) *isLink = false;
    if (folder == kInvalidFolder || name == nullptr) return kInvalidFile;
    const std::string entry = ToUtf8(name);
    const int fd = openat(Fd(folder), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP && isLink != nullptr) *isLink = true;
        return kInvalidFile;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return kInvalidFile;
    }
    return fd;
}

bool ReadOwnershipInFolder(FolderHandle folder, const char16_t* name, FileOwnership* ownership) {
    struct stat info {};
    if (folder == kInvalidFolder || name == nullptr || ownership == nullptr ||
        fstatat(Fd(folder), ToUtf8(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(info.st_mode))
        return false;
    ownership->owner = info.st_uid;
    ownership->group = info.st_gid;
    ownership->mode = info.st_mode & 07777;
    return true;
}

bool RenameInFolder(FolderHandle folder, const char16_t* from, const char16_t* to) {
    if (folder == kInvalidFolder || from == nullptr || to == nullptr) return false;
    return renameat(Fd(folder), ToUtf8(from).c_str(), Fd(folder), ToUtf8(to).c_str()) == 0;
}

bool RemoveFromFolder(FolderHandle folder, const char16_t* name) {
    return folder != kInvalidFolder && name != nullptr &&
           unlinkat(Fd(folder), ToUtf8(name).c_str(), 0) == 0;
}

bool CreateFolderIn(FolderHandle folder, const char16_t* name) {
    if (folder == kInvalidFolder || name == nullptr) return false;
    struct stat holder {};
    if (fstat(Fd(folder), &holder) != 0) return false;
    const std::string part = ToUtf8(name);
    if (mkdirat(Fd(folder), part.c_str(), 0700) != 0) return false;
    // The owner first, then the mode: chown clears the set-id bits.
    if (fchownat(Fd(folder), part.c_str(), holder.st_uid, holder.st_gid, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != EPERM)
        return false;
    return fchmodat(Fd(folder), part.c_str(), holder.st_mode & 07777, 0) == 0;
}

bool MoveBetweenFolders(FolderHandle from, const char16_t* name, FolderHandle to,
                        const char16_t* newName) {
    if (from == kInvalidFolder || to == kInvalidFolder || name == nullptr || newName == nullptr)
        return false;
    return renameat2(Fd(from), ToUtf8(name).c_str(), Fd(to), ToUtf8(newName).c_str(),
                     RENAME_NOREPLACE) == 0;
}

FileHandle OpenForReadingWithoutLinks(const char16_t* path, bool* isLink) {
    if (isLink != nullptr) *isLink = false;
    if (path == nullptr) return kInvalidFile;
    const std::u16string full(path);
    const size_t slash = full.rfind(u'/');
    const std::u16string folderPath =
        slash == std::u16string::npos ? u"." : slash == 0 ? u"/" : full.substr(0, slash);
    const OpenedFolder folder = OpenFolderWithoutLinks(folderPath.c_str());
    if (folder.folder == kInvalidFolder) {
        if (isLink != nullptr) *isLink = folder.refusal == FolderRefusal::kLink;
        return kInvalidFile;
    }
    const FileHandle file = OpenFileInFolder(
        folder.folder, full.substr(slash == std::u16string::npos ? 0 : slash + 1).c_str(), isLink);
    CloseFolder(folder.folder);
    return file;
}

}  // namespace platform
