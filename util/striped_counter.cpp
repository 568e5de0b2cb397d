// Slots handed to threads at their first call and taken back from ended threads when none is
// free; the barrier before the count is read.
#include "util/striped_counter.h"

#include "platform/process.h"
#include "platform/process_barrier.h"

#if !defined(PEZ_ATOMIC_ADMISSION)
#define PEZ_ATOMIC_ADMISSION 0  // 1: every call counts on the shared atomic (for comparison)
#endif

namespace util {

namespace {

constexpr uint32_t kFree = 0;  // no thread has id 0

// The id of the thread that owns each slot. A thread takes a slot by one compare-and-swap from
// kFree or from the id of a thread that has ended, so that two threads never take one slot.
// The ended thread's last stores to the slot reached memory before the system let its end be
// seen, so the next owner's plain reads of the slot start from them.
std::atomic<uint32_t> g_slotOwner[StripedCounter::kOwnedSlots];

bool TakeSlot(uint32_t slot, uint32_t from, uint32_t self) {
    return g_slotOwner[slot].compare_exchange_strong(from, self, std::memory_order_acquire,
                                                     std::memory_order_relaxed);
}

uint32_t TakeFreeOrEndedSlot() {
    const uint32_t self = platform::CurrentThreadId();
    constexpr uint32_t kSlots = StripedCounter::kOwnedSlots;
    for (uint32_t slot = 0; slot < kSlots; ++slot) {
        if (g_slotOwner[slot].load(std::memory_order_relaxed) == kFree &&
            TakeSlot(slot, kFree, self)) {
            return slot;
        }
    }
    // Every slot was taken once: a host's pool may have replaced the threads that took them.
    for (uint32_t slot = 0; slot < kSlots; ++slot) {
        const uint32_t owner = g_slotOwner[slot].load(std::memory_order_relaxed);
        if (owner != self && (owner == kFree || platform::ThreadEnded(owner)) &&
            TakeSlot(slot, owner, self)) {
            return slot;
        }
    }
    return kSlots;
}

}  // namespace

StripedCounter::Admission StripedCounter::DefaultAdmission() {
    return PEZ_ATOMIC_ADMISSION != 0 ? Admission::kAtomic : Admission::kFencedWhereAvailable;
}

StripedCounter::StripedCounter(Admission admission)
    : m_ownedSlots(admission == Admission::kFencedWhereAvailable &&
                           platform::ProcessWideBarrierAvailable()
                       ? kOwnedSlots
                       : 0) {}

size_t StripedCounter::AssignThreadSlot() {
    const uint32_t slot = TakeFreeOrEndedSlot();
    const uint64_t sharedCalls = platform::ThreadWord() & ~uint64_t{UINT32_MAX};
    platform::SetThreadWord(sharedCalls | (slot + 1));
    return slot;
}

int64_t StripedCounter::Total() const {
    if (Fenced()) platform::ProcessWideBarrier();
    int64_t total = m_shared.value.load();
    for (const Slot& slot : m_slots) total += slot.value.load(std::memory_order_acquire);
    return total;
}

bool StripedCounter::CalledFromInside() const {
    const uint64_t word = platform::ThreadWord();
    const uint32_t slot = SlotOf(word);
    if (slot < kOwnedSlots && m_slots[slot].value.load(std::memory_order_relaxed) > 0) return true;
    return SharedCallsOf(word) > 0;
}

}  // namespace util
