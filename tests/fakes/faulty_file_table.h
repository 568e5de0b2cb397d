// A file table for the engine's storage that behaves like the system's until a chosen call,
// and from that call on fails everything, as a process killed at that instant would leave
// the disk: nothing further is written, flushed, renamed or removed. Calls are counted, so a
// test can crash a storage operation at each of its steps in turn.
#pragma once
#include <cstdint>

#include "reference/zef/file_table.h"

namespace zef_test {

// The table; it counts and fails only while armed.
const zef::FileTable& FaultyFileTable();
// Counts calls that change the disk (create, write, flush, rename, remove) from now on and
// fails every call from the one numbered failAt (0 = the next); -1 never fails.
void ArmFaults(int64_t failAt);
void DisarmFaults();
// Calls that change the disk since the last ArmFaults.
int64_t CountedCalls();
// Whether the crash point was reached.
bool Crashed();

}  // namespace zef_test
