// The crash-at-a-step file table: a global counter and the system's table underneath.
#include "tests/fakes/faulty_file_table.h"

#include <atomic>
#include <type_traits>

namespace zef_test {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<int64_t> g_failAt{-1};
std::atomic<int64_t> g_calls{0};
std::atomic<bool> g_crashed{false};

// True when this disk-changing call may go ahead.
bool Step() {
    if (!g_armed.load()) return true;
    if (g_crashed.load()) return false;
    const int64_t number = g_calls.fetch_add(1);
    if (g_failAt.load() < 0 || number < g_failAt.load()) return true;
    g_crashed.store(true);
    return false;
}
bool Dead() { return g_armed.load() && g_crashed.load(); }

template <typename R> R Failure() {
    if constexpr (std::is_same_v<R, zef::FileHandle>) return zef::kInvalidFile;
    else if constexpr (std::is_same_v<R, uint32_t>) return 5u;  // access denied
    else return R{};
}

// Each entry of the system's table, as a call that changes the disk (counted, and refused
// from the crash on) or one that only reads (refused once crashed).
template <auto Entry, typename Signature> struct Faulty;
template <auto Entry, typename R, typename... A> struct Faulty<Entry, R (*)(A...)> {
    static R Changing(A... a) { return Step() ? (zef::SystemFileTable().*Entry)(a...) : Failure<R>(); }
    static R Reading(A... a) { return Dead() ? Failure<R>() : (zef::SystemFileTable().*Entry)(a...); }
};
#define CHANGING(entry) Faulty<&zef::FileTable::entry, decltype(zef::FileTable::entry)>::Changing
#define READING(entry) Faulty<&zef::FileTable::entry, decltype(zef::FileTable::entry)>::Reading

// A write at the crash point is torn: half of it reaches the disk.
bool Write(zef::FileHandle file, const void* bytes, uint32_t count) {
    if (Step()) return zef::SystemFileTable().write(file, bytes, count);
    if (g_crashed.load() && count >= 2) zef::SystemFileTable().write(file, bytes, count / 2);
    return false;
}
bool CopyData(zef::FileHandle source, zef::FileHandle target, uint64_t* copied) {
    *copied = 0;
    return Step() && zef::SystemFileTable().copyData(source, target, copied);
}

}  // namespace

const zef::FileTable& FaultyFileTable() {
    static const zef::FileTable table{
        READING(openForReading), READING(openSource), CHANGING(createForWriting), CHANGING(openForAppending),
        READING(read), Write, CHANGING(flush), CHANGING(flushPath), CHANGING(flushFileSystem), READING(size),
        zef::SystemFileTable().close, CHANGING(clone), CopyData, CHANGING(replace), CHANGING(rename),
        CHANGING(remove), CHANGING(createFolderTree), READING(listFiles), platform::LastFileFailure, CHANGING(link)};
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
