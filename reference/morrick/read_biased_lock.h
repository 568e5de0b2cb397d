// A reader-writer lock for data that many threads read at once. An ordinary reader-writer lock
// makes every reader write the lock's one shared count, so readers on several cores pass that
// cache line back and forth and a read from two threads costs several times a read from one.
//
// While this lock is read-biased, a reader instead announces itself in a slot of a process-wide
// table, in a cache line that only its thread writes, and then checks that the bias still
// holds. A writer takes the underlying lock, turns the bias off, and waits until no slot names
// this lock any more. Because the bias is turned off before the slots are read, and the slot is
// written before the bias is read again (all sequentially consistent), either the reader sees
// the bias gone and backs off to the underlying lock, or the writer sees the reader's slot and
// waits for it. A reader that finds the bias off, or its slot taken, reads under the underlying
// lock shared. It turns the bias on when it is not the thread that read there last (one thread
// alone gains nothing from the bias and would pay for revocations), unless a writer revoked the
// bias recently: the pause after a revocation is nine times as long as the revocation took, so
// that a lock written often stays an ordinary reader-writer lock and spends at most about a
// tenth of its time revoking.
#pragma once
#include <atomic>
#include <cstdint>
#include <shared_mutex>

namespace morrick {

class ReadBiasedLock {
public:
    using Slot = std::atomic<const ReadBiasedLock*>;

    ReadBiasedLock() = default;
    ReadBiasedLock(const ReadBiasedLock&) = delete;
    ReadBiasedLock& operator=(const ReadBiasedLock&) = delete;

    // Exclusive: waits for every reader, announced or not.
    void lock();
    void unlock() { m_lock.unlock(); }

    // Shared: gives back the slot the reader announced itself in, or null when it holds the
    // underlying lock shared instead; UnlockShared takes that back.
    Slot* LockShared();
    void UnlockShared(Slot* slot);

    // Whether readers currently announce themselves instead of taking the underlying lock.
    bool ReadBiased() const { return m_readBias.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_readBias{false};
    // The number of the thread that last read under the underlying lock (0: none yet).
    std::atomic<uint32_t> m_lastSlowReader{0};
    // Steady-clock nanoseconds before which a reader must not turn the bias back on.
    std::atomic<int64_t> m_biasAfter{0};
    std::shared_mutex m_lock;
};

// Holds a ReadBiasedLock shared for as long as it lives.
class SharedReading {
public:
    explicit SharedReading(ReadBiasedLock& lock) : m_lock(lock), m_slot(lock.LockShared()) {}
    ~SharedReading() { m_lock.UnlockShared(m_slot); }
    SharedReading(const SharedReading&) = delete;
    SharedReading& operator=(const SharedReading&) = delete;

private:
    ReadBiasedLock& m_lock;
    ReadBiasedLock::Slot* m_slot;
};

}  // namespace morrick
