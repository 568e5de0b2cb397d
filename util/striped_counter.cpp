// Slots handed to threads in turn, once per thread and never reused; the barrier before the count
// is read.
#include "util/striped_counter.h"

#include "platform/process_barrier.h"

#if !defined(PEZ_ATOMIC_ADMISSION)
#define PEZ_ATOMIC_ADMISSION 0  // 1: every call counts on the shared atomic (for comparison)
#endif

namespace util {

StripedCounter::Admission StripedCounter::DefaultAdmission() {
    return PEZ_ATOMIC_ADMISSION != 0 ? Admission::kAtomic : Admission::kFencedWhereAvailable;
}

StripedCounter::StripedCounter(Admission admission)
    : m_fenced(admission == Admission::kFencedWhereAvailable &&
               platform::ProcessWideBarrierAvailable()) {}

size_t StripedCounter::AssignThreadSlot() {
    static std::atomic<uint32_t> nextThread{0};
    // Once the slots are gone the number stops growing, so that it never wraps round.
    uint32_t next = nextThread.load(std::memory_order_relaxed);
    if (next < kOwnedSlots) next = nextThread.fetch_add(1, std::memory_order_relaxed);
    t_threadSlot = next < kOwnedSlots ? next : static_cast<uint32_t>(kOwnedSlots);
    return t_threadSlot;
}

int64_t StripedCounter::Total() const {
    if (m_fenced) platform::ProcessWideBarrier();
    int64_t total = m_shared.value.load();
    for (const Slot& slot : m_slots) total += slot.value.load(std::memory_order_acquire);
    return total;
}

}  // namespace util
