// File operations through POSIX calls; paths are converted to UTF-8 where they are opened.
#include "platform/file_ops.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/text.h"

namespace platform {
namespace {

// The absolute form of a path, made lexically as the Windows calls make it before they touch
// a file: a relative path is taken from the current folder, "." parts are dropped, ".." drops
// the part before it (never the root), doubled separators merge and a trailing separator
// stays. Nothing is looked up on disk, so links are not followed and a ".." after a file's
// name is resolved like any other. Empty for a null or empty path.
std::u16string Resolved(const char16_t* path) {
    if (path == nullptr || *path == u'\0') return {};
    std::u16string joined = path;
    if (joined[0] != u'/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return {};
        joined = FromUtf8(cwd) + u"/" + joined;
    }
    std::u16string full;
    for (size_t start = 0; start < joined.size();) {
        size_t end = joined.find(u'/', start);
        if (end == std::u16string::npos) end = joined.size();
        const std::u16string part = joined.substr(start, end - start);
        if (part == u"..") {
            full.resize(full.empty() ? 0 : full.rfind(u'/'));
        } else if (!part.empty() && part != u".") {
            full += u'/';
            full += part;
        }
        start = end + 1;
    }
    if (full.empty() || joined.back() == u'/') full += u'/';
    return full;
}

// The name the operating system is given for a path: resolved first, as on Windows.
std::string OsName(const char16_t* path) { return ToUtf8(Resolved(path)); }

// Opened for appending: every write lands at the end of the file, also after another
// writer's, in the write itself, so that moving to the end costs no system call of its own.
FileHandle OpenAlways(const char16_t* path, bool* existed) {
    if (path == nullptr) return kInvalidFile;
    const std::string name = OsName(path);
    constexpr int kAppending = O_WRONLY | O_APPEND | O_CLOEXEC;
    int fd = open(name.c_str(), kAppending);
    bool wasThere = fd >= 0;
    if (fd < 0) {
        fd = open(name.c_str(), kAppending | O_CREAT | O_EXCL, 0644);
        if (fd < 0 && errno == EEXIST) {  // created meanwhile by someone else
            fd = open(name.c_str(), kAppending);
            wasThere = true;
        }
    }
    if (fd < 0) return kInvalidFile;
    if (existed != nullptr) *existed = wasThere;
    return fd;
}

bool Write(FileHandle file, const void* bytes, uint32_t count) {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(static_cast<int>(file), next, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        count -= static_cast<uint32_t>(written);
    }
    return true;
}

// Every handle that OpenAlways gives appends, so its next write goes to the end anyway.
bool SeekToEnd(FileHandle file) { return file >= 0; }

uint32_t SizeLow(FileHandle file) {
    struct stat info {};
    if (fstat(static_cast<int>(file), &info) != 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(info.st_size));
}

void Close(FileHandle file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

bool MoveReplacing(const char16_t* from, const char16_t* to) {
    if (from == nullptr || to == nullptr) return false;
    return rename(OsName(from).c_str(), OsName(to).c_str()) == 0;
}

bool Remove(const char16_t* path) { return path != nullptr && unlink(OsName(path).c_str()) == 0; }

uint32_t FullPath(const char16_t* path, char16_t* buffer, uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    const std::u16string full = Resolved(path);
    if (full.empty() || full.size() >= capacity) return 0;
    full.copy(buffer, full.size());
    buffer[full.size()] = u'\0';
    return static_cast<uint32_t>(full.size());
}

uint32_t CreateFolderTree(const char16_t* folder) {
    if (folder == nullptr || *folder == u'\0') return ENOENT;
    const std::string path = OsName(folder);
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? kFolderExists : EEXIST;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return static_cast<uint32_t>(errno);
        if (slash == std::string::npos) break;
    }
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? kFolderCreated : ENOTDIR;
}

}  // namespace

const FileOps& SystemFileOps() {
    static const FileOps ops{OpenAlways, Write,         SeekToEnd, SizeLow,         Close,
                             MoveReplacing, Remove, FullPath, CreateFolderTree};
    return ops;
}

}  // namespace platform
