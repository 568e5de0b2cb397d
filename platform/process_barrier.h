// A memory barrier on every processor that runs a thread of this process, paid for entirely by
// the thread that asks for it. A thread that orders its own store before its own later load with
// no more than a compiler barrier is ordered as if it had issued a full fence there, once this
// barrier has returned on another thread: either the asker sees the store, or that thread's
// load sees what the asker stored before the barrier.
#pragma once

namespace platform {

// True when ProcessWideBarrier works here; prepares it on first use (Linux registers the process
// for the expedited barrier). Any thread, any time; the answer does not change.
bool ProcessWideBarrierAvailable();

// Issues the barrier; only after ProcessWideBarrierAvailable answered true. Costs a system call
// and an interrupt of each processor running this process: for rare paths only.
void ProcessWideBarrier();

}  // namespace platform
