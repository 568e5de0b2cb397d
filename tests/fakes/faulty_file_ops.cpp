// The plug-in's file calls with switchable faults: the system's table underneath.
#include "tests/fakes/faulty_file_ops.h"

#include <atomic>

namespace pez_test {
namespace {

std::atomic<uint32_t> g_faults{0};
std::atomic<uint32_t> g_failed{0};

const platform::FileOps& System() { return platform::SystemFileOps(); }

// True (and counted) when the fault is on.
bool Fails(uint32_t fault) {
    if ((g_faults.load() & fault) == 0) return false;
    ++g_failed;
    return true;
}

platform::FileHandle OpenAlways(const char16_t* path, bool* existed) {
    return Fails(kOpenFails) ? platform::kInvalidFile : System().openAlways(path, existed);
}
bool Write(platform::FileHandle file, const void* bytes, uint32_t count) {
    if (Fails(kDiskFull)) return false;
    const bool torn = Fails(kShortWrite);
    return System().write(file, bytes, torn ? count / 2 : count) && !torn;
}
bool MoveReplacing(const char16_t* from, const char16_t* to) { return !Fails(kRenameFails) && System().moveReplacing(from, to); }

}  // namespace

const platform::FileOps& FaultyFileOps() {
    static const platform::FileOps table = [] {
        platform::FileOps files = System();
        files.openAlways = OpenAlways;
        files.write = Write;
        files.moveReplacing = MoveReplacing;
        return files;
    }();
    return table;
}

void SetFileFaults(uint32_t faults) {
    g_faults.store(faults);
    g_failed.store(0);
}

uint32_t FailedFileCalls() { return g_failed.load(); }

}  // namespace pez_test
