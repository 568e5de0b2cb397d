// A count of calls under way that many threads change at once, for a flag-then-count admission:
// a caller counts itself, then reads a running flag again; the shut-down clears the flag, then
// waits until Total() is 0, and only then tears down what the calls use.
//
// Each thread that holds one of the kOwnedSlots slots owns a cache line of its own in every
// counter and is the only one to write it, with a plain load and store: no locked instruction on
// the way in or out. The order that admission needs (the caller's count stored before its second
// read of the flag, the shut-down's cleared flag stored before its read of the count) is then
// given by the shut-down alone: Total() issues a process-wide barrier
// (platform/process_barrier.h) before it reads the slots, which orders every caller's store
// before that caller's next load as a full fence would. So either the caller's second read sees
// the cleared flag, or Total() sees its count. Leaving stores with release and Total() reads
// with acquire, so that whatever a call did before it left happens before what the shut-down
// does after reading 0.
//
// A thread takes a slot at its first call: a free one, or else one whose thread has ended (it
// was outside every call then, so the slot holds 0 in every counter), so that hosts whose pools
// replace threads keep the owned slots. Nothing runs when a thread ends: no hook of the module
// can outlive it. Threads that find no slot, a system without the barrier, and a build with
// PEZ_ATOMIC_ADMISSION or a counter made kAtomic (to compare against) count on one shared
// atomic with sequentially consistent read-modify-writes instead, which needs no barrier.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/thread_word.h"

namespace util {

class StripedCounter {
public:
    static constexpr size_t kOwnedSlots = 128;
    // Where the process-wide barrier works, owned slots; kAtomic: the shared atomic only.
    enum class Admission { kFencedWhereAvailable, kAtomic };
    // kAtomic in a build with PEZ_ATOMIC_ADMISSION, the fenced kind otherwise.
    static Admission DefaultAdmission();

    explicit StripedCounter(Admission admission = DefaultAdmission());
    StripedCounter(const StripedCounter&) = delete;
    StripedCounter& operator=(const StripedCounter&) = delete;

    // Counts the calling thread in; gives back the slot that Leave needs.
    size_t Enter() {
        const size_t slot = ThreadSlot();
        if (slot < m_ownedSlots) {
            std::atomic<int32_t>& value = m_slots[slot].value;
            value.store(value.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            // The compiler keeps the store before the caller's next load; the processor is made
            // to by Total()'s process-wide barrier.
            std::atomic_signal_fence(std::memory_order_seq_cst);
            return slot;
        }
        m_shared.value.fetch_add(1);
        platform::SetThreadWord(platform::ThreadWord() + kOneSharedCall);
        return kOwnedSlots;
    }
    void Leave(size_t slot) {
        if (slot < kOwnedSlots) {
            std::atomic<int32_t>& value = m_slots[slot].value;
            value.store(value.load(std::memory_order_relaxed) - 1, std::memory_order_release);
            return;
        }
        platform::SetThreadWord(platform::ThreadWord() - kOneSharedCall);
        m_shared.value.fetch_sub(1);
    }

    // The calls under way; a caller that read the flag after the flag was cleared may still be
    // counted, one that read it before is. Issues the process-wide barrier when slots are owned.
    int64_t Total() const;

    // True when the calling thread has a call under way here, so that a shut-down run from
    // inside a call can tell that waiting for Total() would wait for itself. A thread on the
    // shared atomic answers for every counter of the module that it counts on that way.
    bool CalledFromInside() const;

    // True when owned slots are in use (false in the atomic build or without the barrier).
    bool Fenced() const { return m_ownedSlots != 0; }

    // Whether the calling thread holds an owned slot (after its first Enter on any counter).
    static bool ThreadOwnsSlot() { return SlotOf(platform::ThreadWord()) < kOwnedSlots; }

private:
    struct alignas(64) Slot {
        std::atomic<int32_t> value{0};
    };
    // The calling thread's slot number, taken at its first call; kOwnedSlots when none was free
    // (the thread then counts on the shared atomic for its whole life).
    static size_t ThreadSlot() {
        const uint32_t slot = SlotOf(platform::ThreadWord());
        return slot != kNoSlot ? slot : AssignThreadSlot();
    }
    static size_t AssignThreadSlot();

    // What every counter of the module keeps of a thread, in the thread's word
    // (platform/thread_word.h, 0 in a thread that never called): in the low half its slot number
    // plus one, 0 before its first call; in the high half its calls under way on the shared
    // atomic, of any counter.
    static constexpr uint32_t kNoSlot = UINT32_MAX;
    static constexpr uint64_t kOneSharedCall = uint64_t{1} << 32;
    static uint32_t SlotOf(uint64_t word) { return static_cast<uint32_t>(word) - 1; }
    static uint32_t SharedCallsOf(uint64_t word) { return static_cast<uint32_t>(word >> 32); }

    // kOwnedSlots where slots are owned, 0 where every call counts on the shared atomic: one
    // comparison on the way in decides both.
    const size_t m_ownedSlots;
    Slot m_shared;
    Slot m_slots[kOwnedSlots];
};

// Counts one call for as long as the object lives.
class CountedCall {
public:
    explicit CountedCall(StripedCounter& counter) : m_counter(counter), m_slot(counter.Enter()) {}
    ~CountedCall() { m_counter.Leave(m_slot); }
    CountedCall(const CountedCall&) = delete;
    CountedCall& operator=(const CountedCall&) = delete;

private:
    StripedCounter& m_counter;
    size_t m_slot;
};

}  // namespace util
