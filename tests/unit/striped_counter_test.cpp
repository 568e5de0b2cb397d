// The count of calls under way, in both kinds (owned slots with the shut-down's process-wide
// barrier, and the shared atomic): every call counted whatever slot its thread got, and a model
// of the flag-then-count admission whose shut-down tears its resource down after the drain, so
// that a call admitted too late is caught here (and any missing order between a call's use and
// the tear-down is a data race that ThreadSanitizer reports).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/process_barrier.h"
#include "util/striped_counter.h"

namespace {

using util::StripedCounter;
using Admission = StripedCounter::Admission;

constexpr Admission kBothKinds[] = {Admission::kFencedWhereAvailable, Admission::kAtomic};

TEST(StripedCounter, UsesOwnedSlotsOnlyWhereTheBarrierWorksAndNotWhenAtomicIsAsked) {
    EXPECT_EQ(StripedCounter(Admission::kFencedWhereAvailable).Fenced(),
              platform::ProcessWideBarrierAvailable());
    EXPECT_FALSE(StripedCounter(Admission::kAtomic).Fenced());
}

// More threads than owned slots, each holding nested calls: the ones past the slots share the
// atomic, and the total counts every call of every kind of thread.
TEST(StripedCounter, CountsEveryHeldCallWhenThreadsOutnumberTheSlots) {
    constexpr size_t kThreads = StripedCounter::kOwnedSlots + 8;
    constexpr int kNested = 3;
    for (const Admission kind : kBothKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        StripedCounter counter(kind);
        std::mutex lock;
        std::condition_variable changed;
        size_t holding = 0;
        bool release = false;
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                size_t slots[kNested];
                for (size_t& slot : slots) slot = counter.Enter();
                std::unique_lock<std::mutex> guard(lock);
                ++holding;
                changed.notify_all();
                changed.wait(guard, [&] { return release; });
                guard.unlock();
                for (int i = kNested - 1; i >= 0; --i) counter.Leave(slots[i]);
            });
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return holding == kThreads; });
        }
        EXPECT_EQ(counter.Total(), static_cast<int64_t>(kThreads * kNested));
        {
            std::lock_guard<std::mutex> guard(lock);
            release = true;
        }
        changed.notify_all();
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(counter.Total(), 0);
    }
}

// Shut-down cycles of the model below: a few hundred in the suite, PEZ_STRESS_CYCLES for a long
// run outside it.
int StressCycles() {
    const char* cycles = std::getenv("PEZ_STRESS_CYCLES");
    return cycles != nullptr && std::atoi(cycles) > 0 ? std::atoi(cycles) : 300;
}

// The admission as the exports and the wrapper use it, cycled: callers test the flag, count
// themselves, test it again and use the resource; the shut-down clears the flag, drains, and
// writes the resource dead (a plain write: a call still inside would race with it), then brings
// it back for the next cycle. Every other call is held between its first test and its count,
// where a shut-down is most likely to slip in.
TEST(StripedCounter, NoCallUsesTheResourceAfterTheDrainAcrossManyShutdowns) {
    const int kCycles = StressCycles();
    constexpr int kCallers = 6;
    for (const Admission kind : kBothKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        StripedCounter counter(kind);
        std::atomic<int> running{0};
        std::atomic<bool> finished{false};
        int alive = 1;  // written only while no call is admitted
        std::atomic<int64_t> admitted{0};
        std::atomic<int64_t> lateCalls{0};
        std::vector<std::thread> callers;
        for (int c = 0; c < kCallers; ++c) {
            callers.emplace_back([&] {
                uint32_t calls = 0;
                while (!finished.load()) {
                    if (running.load() != 1) {
                        std::this_thread::yield();
                        continue;
                    }
                    if ((++calls & 1) == 0) std::this_thread::yield();
                    const util::CountedCall counted(counter);
                    if (running.load() != 1) continue;
                    if (alive != 1) ++lateCalls;
                    ++admitted;
                }
            });
        }
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            alive = 1;
            const int64_t before = admitted.load();
            running.store(1);
            // On a loaded machine the callers may not run at all in one yield: wait (bounded)
            // until one of them is admitted, so that every cycle has a call to race with.
            for (int spin = 0; spin < 10000 && admitted.load() == before; ++spin)
                std::this_thread::yield();
            running.store(0);
            while (counter.Total() > 0) std::this_thread::yield();
            alive = 0;
        }
        finished = true;
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(lateCalls.load(), 0);
        EXPECT_GT(admitted.load(), 0);
        EXPECT_EQ(counter.Total(), 0);
    }
}

}  // namespace
