// The reference message library's read-biased lock: a writer excludes readers whether they
// announced themselves in slots or took the underlying lock, the bias follows the readers, and a
// thread holding more locks than it has slots still excludes writers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "reference/morrick/read_biased_lock.h"

namespace {

using morrick::ReadBiasedLock;
using morrick::SharedReading;

// A window in which a reader and a writer that both got in would see each other's half.
void Spin() {
    for (int spin = 0; spin < 200; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Readers check that a writer's two stores are never seen half done, while the writer keeps
// revoking the bias that the readers keep turning back on; ThreadSanitizer sees any read that
// is not ordered against the writes.
TEST(ReadBiasedLock, WritersExcludeBiasedAndUnbiasedReaders) {
    ReadBiasedLock lock;
    uint64_t first = 0;
    uint64_t second = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (unsigned reads = 1; !stop.load(); ++reads) {
                {
                    const SharedReading reading(lock);
                    const uint64_t seen = first;
                    Spin();
                    if (second != seen) torn.fetch_add(1);
                }
                // The underlying lock prefers readers on some systems: give the writer gaps.
                if (reads % 8 == 0) std::this_thread::yield();
            }
        });
    }
    // Each round waits (a little) for the readers to bias the lock again, so that most rounds
    // revoke a bias with readers inside.
    int revoked = 0;
    for (int round = 0; round < 5000; ++round) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
        while (!lock.ReadBiased() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
        if (lock.ReadBiased()) ++revoked;
        std::lock_guard<ReadBiasedLock> writing(lock);
        ++first;
        Spin();
        ++second;
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(revoked, 0) << "the readers never biased the lock: the test proved nothing";
}

// The bias comes with a second reader thread, not with one thread reading and writing in
// turn, and goes with a writer. A thread has one slot per class of lock address; reading more
// locks at once than that falls back to the underlying lock for some of them, and every one
// of them must still hold writers off until it is released.
TEST(ReadBiasedLock, BiasFollowsReadersAndManyLocksReadAtOnceStillExcludeWriters) {
    constexpr int kLocks = 40;
    std::vector<std::unique_ptr<ReadBiasedLock>> locks;
    for (int i = 0; i < kLocks; ++i) {
        locks.push_back(std::make_unique<ReadBiasedLock>());
        for (int turn = 0; turn < (i == 0 ? 100 : 1); ++turn) {
            { const SharedReading reading(*locks.back()); }
            if (i == 0) std::lock_guard<ReadBiasedLock> writing(*locks.back());
        }
        ASSERT_FALSE(locks.back()->ReadBiased()) << "one thread alone gains nothing";
        std::thread([&locks] { const SharedReading reading(*locks.back()); }).join();
        ASSERT_TRUE(locks.back()->ReadBiased());
    }
    std::vector<std::unique_ptr<SharedReading>> held;
    for (auto& lock : locks) held.push_back(std::make_unique<SharedReading>(*lock));

    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (auto& lock : locks) {
        writers.emplace_back([&written, &lock] {
            std::lock_guard<ReadBiasedLock> writing(*lock);
            written.fetch_add(1);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(written.load(), 0) << "a writer got in while the lock was read";
    held.clear();
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(written.load(), kLocks);
    for (auto& lock : locks) EXPECT_FALSE(lock->ReadBiased()) << "a writer revokes the bias";
}

}  // namespace
