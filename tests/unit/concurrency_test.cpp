// The count of calls under way (owned slots behind the shut-down's process-wide barrier, or the
// shared atomic) and the message library's read-biased lock, also under ThreadSanitizer. The
// admission built on the count is raced against real shut-downs by the module tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/process_barrier.h"
#include "reference/morrick/read_biased_lock.h"
#include "util/striped_counter.h"

namespace {

using morrick::ReadBiasedLock;
using morrick::SharedReading;
using util::StripedCounter;
using Admission = StripedCounter::Admission;

// Runs body(0) ... body(count - 1) on threads of their own, all at once, and waits for them.
template <typename Body>
void OnThreads(size_t count, Body body) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) threads.emplace_back(body, i);
    for (std::thread& thread : threads) thread.join();
}

// More threads than owned slots, each holding nested calls: the total counts every call; each
// thread, with a slot or without, is inside a call until it left the last (a shut-down run from
// inside a call must not wait for it) and never takes another's calls. The platform's thread
// word is checked here too: shared or half lost, it shows; a living thread taken for ended too.
TEST(StripedCounter, CountsEveryHeldCallWhenThreadsOutnumberTheSlots) {
    constexpr size_t kThreads = StripedCounter::kOwnedSlots + 8;
    constexpr int kNested = 3;
    for (const Admission kind : {Admission::kFencedWhereAvailable, Admission::kAtomic}) {
        SCOPED_TRACE(static_cast<int>(kind));
        StripedCounter counter(kind);
        EXPECT_EQ(counter.Fenced(), kind == Admission::kFencedWhereAvailable && platform::ProcessWideBarrierAvailable())
            << "owned slots only where the barrier works, and not when the atomic is asked for";
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        std::atomic<size_t> holding{0}, insideAfterLeaving{0}, outsideBeforeLeaving{0};
        std::vector<uint32_t> ids(kThreads);
        OnThreads(kThreads + 1, [&](size_t t) {
            if (t == kThreads) {  // the one thread outside every call looks while they are held
                while (holding.load() < kThreads) std::this_thread::yield();
                EXPECT_EQ(counter.Total(), static_cast<int64_t>(kThreads * kNested));
                EXPECT_FALSE(counter.CalledFromInside()) << "the other threads' calls are not this one's";
                for (uint32_t id : ids) EXPECT_FALSE(platform::ThreadEnded(id)) << "a living thread is taken for ended";
                return release.set_value();
            }
            ids[t] = platform::CurrentThreadId();
            size_t slots[kNested];
            for (size_t& slot : slots) slot = counter.Enter();
            ++holding;
            released.wait();
            for (int i = kNested - 1; i >= 0; --i) {  // inside, from the first call held to the last
                if (!counter.CalledFromInside()) ++outsideBeforeLeaving;
                counter.Leave(slots[i]);
            }
            if (counter.CalledFromInside()) ++insideAfterLeaving;
        });
        EXPECT_EQ(counter.Total(), 0);
        EXPECT_EQ(insideAfterLeaving.load(), 0u);
        EXPECT_EQ(outsideBeforeLeaving.load(), 0u);
    }
}

// A host whose pools replace their threads: far more threads than slots come and go, a few at a
// time, each calling. Once every slot was taken, new threads take those of ended threads (seen
// ended by the platform), so every one of them owns a slot and counts without a locked
// instruction, and the counts of slots handed on stay exact.
TEST(StripedCounter, ThreadsThatComeAndGoKeepOwningSlots) {
    constexpr size_t kThreads = 5 * StripedCounter::kOwnedSlots, kAtOnce = 8;
    StripedCounter counter;
    std::atomic<size_t> withoutSlot{0};
    std::atomic<int64_t> seenInside{0};
    for (size_t done = 0; done < kThreads; done += kAtOnce) {
        OnThreads(kAtOnce, [&](size_t) {
            for (int call = 0; call < 3; ++call) {
                const util::CountedCall counted(counter);
                if (counter.CalledFromInside()) ++seenInside;
            }
            if (!StripedCounter::ThreadOwnsSlot()) ++withoutSlot;
        });
    }
    EXPECT_EQ(withoutSlot.load(), 0u);
    EXPECT_EQ(seenInside.load(), static_cast<int64_t>(3 * kThreads));
    EXPECT_EQ(counter.Total(), 0);
}

// A window in which a reader and a writer that both got in would see each other's half.
void Spin() {
    for (int spin = 0; spin < 200; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Readers check that a writer's two stores are never seen half done, while the writer keeps
// revoking the bias that the readers keep turning back on.
TEST(ReadBiasedLock, WritersExcludeBiasedAndUnbiasedReaders) {
    constexpr size_t kReaders = 4;
    ReadBiasedLock lock;
    uint64_t first = 0, second = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, revoked{0};
    OnThreads(kReaders + 1, [&](size_t t) {
        if (t == kReaders) {  // the writer
            // Each round waits (a little) for the readers to bias the lock again, so that most
            // rounds revoke a bias with readers inside.
            for (int round = 0; round < 5000; ++round) {
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
                while (!lock.ReadBiased() && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
                if (lock.ReadBiased()) ++revoked;
                std::lock_guard<ReadBiasedLock> writing(lock);
                ++first;
                Spin();
                ++second;
            }
            return stop.store(true);
        }
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
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(revoked.load(), 0) << "the readers never biased the lock: the test proved nothing";
}

// The bias comes with a second reader thread, not with one thread reading and writing in
// turn, and goes with a writer. A thread has one slot per class of lock address; reading more
// locks at once than that falls back to the underlying lock for some of them, and every one
// of them must still hold writers off until it is released.
TEST(ReadBiasedLock, BiasFollowsReadersAndManyLocksReadAtOnceStillExcludeWriters) {
    constexpr size_t kLocks = 40;
    std::vector<std::unique_ptr<ReadBiasedLock>> locks;
    for (size_t i = 0; i < kLocks; ++i) {
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

    // The readings were taken on this thread, so they are let go here, while writers wait.
    std::atomic<size_t> written{0};
    std::thread writers([&] {
        OnThreads(kLocks, [&](size_t i) {
            std::lock_guard<ReadBiasedLock> writing(*locks[i]);
            written.fetch_add(1);
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(written.load(), 0u) << "a writer got in while the lock was read";
    held.clear();
    writers.join();
    EXPECT_EQ(written.load(), kLocks);
    for (auto& lock : locks) EXPECT_FALSE(lock->ReadBiased()) << "a writer revokes the bias";
}

}  // namespace
