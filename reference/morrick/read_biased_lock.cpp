// The table of reader slots, a thread's place in it, and the revocation a writer pays.
#include "reference/morrick/read_biased_lock.h"

#include <chrono>
#include <cstddef>
#include <thread>

#include "platform/tls_model.h"

namespace morrick {
namespace {

// Each thread gets a cache line of kSlotsPerLine slots, one per lock class (a hash of the lock's
// address), so that a thread reading two locks at once (a table and one of its records) usually
// holds two slots. Threads past kLines share lines with earlier ones, which costs speed only.
constexpr size_t kLines = 128;
constexpr size_t kSlotsPerLine = 64 / sizeof(ReadBiasedLock::Slot);
constexpr int64_t kPauseFactor = 9;

struct alignas(64) SlotLine {
    ReadBiasedLock::Slot slots[kSlotsPerLine] = {};
};
SlotLine g_readers[kLines];

std::atomic<uint32_t> g_nextThread{0};
// Read on every biased read.
PEZ_TLS_INITIAL_EXEC thread_local uint32_t t_threadNumber = 0;  // 0: none yet

uint32_t ThreadNumber() {
    uint32_t number = t_threadNumber;
    if (number == 0) {
        do {
            number = g_nextThread.fetch_add(1, std::memory_order_relaxed) + 1;
        } while (number == 0);
        t_threadNumber = number;
    }
    return number;
}

ReadBiasedLock::Slot& SlotFor(const ReadBiasedLock* lock) {
    const auto address = reinterpret_cast<uintptr_t>(lock);
    const size_t lockClass = static_cast<size_t>((address >> 4) ^ (address >> 10)) % kSlotsPerLine;
    return g_readers[ThreadNumber() % kLines].slots[lockClass];
}

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ReadBiasedLock::Slot* ReadBiasedLock::LockShared() {
    if (m_readBias.load(std::memory_order_relaxed)) {
        Slot& slot = SlotFor(this);
        const ReadBiasedLock* empty = nullptr;
        if (slot.compare_exchange_strong(empty, this)) {
            if (m_readBias.load()) return &slot;
            slot.store(nullptr, std::memory_order_release);  // a writer is revoking: back off
        }
    }
    m_lock.lock_shared();
    // The bias pays off only when several threads read; one thread alone, reading and writing
    // in turn, would pay a revocation for nothing. So the bias is turned on when a thread other
    // than the last one reads here, and not during the pause after a revocation. No writer can
    // be inside while this reader holds the lock.
    if (!m_readBias.load(std::memory_order_relaxed)) {
        const uint32_t reader = ThreadNumber();
        const uint32_t last = m_lastSlowReader.load(std::memory_order_relaxed);
        if (last != reader) {
            m_lastSlowReader.store(reader, std::memory_order_relaxed);
            if (last != 0 && NowNanoseconds() >= m_biasAfter.load(std::memory_order_relaxed)) {
                m_readBias.store(true);
            }
        }
    }
    return nullptr;
}

void ReadBiasedLock::UnlockShared(Slot* slot) {
    if (slot != nullptr) {
        slot->store(nullptr, std::memory_order_release);
    } else {
        m_lock.unlock_shared();
    }
}

void ReadBiasedLock::lock() {
    m_lock.lock();
    if (!m_readBias.load(std::memory_order_relaxed)) return;
    m_readBias.store(false);
    const int64_t start = NowNanoseconds();
    for (SlotLine& line : g_readers) {
        for (Slot& slot : line.slots) {
            while (slot.load() == this) std::this_thread::yield();
        }
    }
    const int64_t end = NowNanoseconds();
    m_biasAfter.store(end + (end - start) * kPauseFactor, std::memory_order_relaxed);
}

}  // namespace morrick
