// The crash-at-a-step file table: a global counter and the system's table underneath.
#include "tests/fakes/faulty_file_table.h"

#include <atomic>

namespace zef_test {
namespace {

using zef::FileHandle;

std::atomic<bool> g_armed{false};
std::atomic<int64_t> g_failAt{-1};
std::atomic<int64_t> g_calls{0};
std::atomic<bool> g_crashed{false};

const zef::FileTable& System() { return zef::SystemFileTable(); }

// True when this disk-changing call may go ahead.
bool Step() {
    if (!g_armed.load()) return true;
    if (g_crashed.load()) return false;
    const int64_t number = g_calls.fetch_add(1);
    const int64_t failAt = g_failAt.load();
    if (failAt >= 0 && number >= failAt) {
        g_crashed.store(true);
        return false;
    }
    return true;
}
bool Dead() { return g_armed.load() && g_crashed.load(); }

FileHandle OpenForReading(const char16_t* path) {
    return Dead() ? zef::kInvalidFile : System().openForReading(path);
}
FileHandle OpenSource(const char16_t* path, bool* isLink) {
    return Dead() ? zef::kInvalidFile : System().openSource(path, isLink);
}
FileHandle CreateForWriting(const char16_t* path) {
    return Step() ? System().createForWriting(path) : zef::kInvalidFile;
}
FileHandle OpenForAppending(const char16_t* path) {
    return Step() ? System().openForAppending(path) : zef::kInvalidFile;
}
bool Read(FileHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    return !Dead() && System().read(file, buffer, capacity, got);
}
// A write at the crash point is torn: half of it reaches the disk.
bool Write(FileHandle file, const void* bytes, uint32_t count) {
    if (Step()) return System().write(file, bytes, count);
    if (!g_crashed.load() || count < 2) return false;
    System().write(file, bytes, count / 2);
    return false;
}
bool Flush(FileHandle file) { return Step() && System().flush(file); }
bool FlushPath(const char16_t* path) { return Step() && System().flushPath(path); }
bool FlushFileSystem(const char16_t* path) { return Step() && System().flushFileSystem(path); }
bool Size(FileHandle file, uint64_t* size) { return !Dead() && System().size(file, size); }
void Close(FileHandle file) { System().close(file); }
bool Clone(FileHandle source, FileHandle target) {
    return Step() && System().clone(source, target);
}
bool CopyData(FileHandle source, FileHandle target, uint64_t* copied) {
    *copied = 0;
    return Step() && System().copyData(source, target, copied);
}
bool Replace(const char16_t* from, const char16_t* to) { return Step() && System().replace(from, to); }
bool Rename(const char16_t* from, const char16_t* to) { return Step() && System().rename(from, to); }
bool Remove(const char16_t* path) { return Step() && System().remove(path); }
uint32_t CreateFolderTree(const char16_t* folder) {
    return Step() ? System().createFolderTree(folder) : 5u;
}
bool ListFiles(const char16_t* folder, std::vector<std::u16string>& names) {
    return !Dead() && System().listFiles(folder, names);
}
bool Link(const char16_t* existing, const char16_t* name) {
    return Step() && System().link(existing, name);
}

}  // namespace

const zef::FileTable& FaultyFileTable() {
    static const zef::FileTable table{OpenForReading, OpenSource, CreateForWriting, OpenForAppending,
                                      Read,           Write,
                                      Flush,          FlushPath,        FlushFileSystem,
                                      Size,           Close,
                                      Clone,          CopyData,         Replace, Rename,
                                      Remove,
                                      CreateFolderTree,
                                      ListFiles,
                                      platform::LastFileFailure,
                                      Link};
    return table;
}

void ArmFaults(int64_t failAt) {
    g_calls.store(0);
    g_crashed.store(false);
    g_failAt.store(failAt);
    g_armed.store(true);
}

void DisarmFaults() {
    g_armed.store(false);
    g_crashed.store(false);
}

int64_t CountedCalls() { return g_calls.load(); }
bool Crashed() { return g_crashed.load(); }

}  // namespace zef_test
