// The count of calls under way, in both kinds (owned slots with the shut-down's process-wide
// barrier, and the shared atomic): every call counted whatever slot its thread got, and a model
// of the flag-then-count admission whose shut-down tears its resource down after the drain, so
// that a call admitted too late is caught here (and any missing order between a call's use and
// the tear-down is a data race that ThreadSanitizer reports).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
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
// atomic, and the total counts every call of every kind of thread; each thread, with a slot or
// without, knows that it is inside a call until it left the last (a shut-down run from inside a
// call must not wait for it), and no thread takes another's calls for its own. This is also
// where the platform's thread word is checked: a word shared between threads, or a lost half
// of it (the slot below, the shared calls above), shows here.
TEST(StripedCounter, CountsEveryHeldCallWhenThreadsOutnumberTheSlots) {
    constexpr size_t kThreads = StripedCounter::kOwnedSlots + 8;
    constexpr int kNested = 3;
    for (const Admission kind : kBothKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        StripedCounter counter(kind);
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        std::atomic<size_t> holding{0}, insideWhenHolding{0}, insideAfterLeaving{0}, outsideBeforeLeaving{0};
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                size_t slots[kNested];
                for (size_t& slot : slots) slot = counter.Enter();
                if (counter.CalledFromInside()) ++insideWhenHolding;
                ++holding;
                released.wait();
                for (int i = kNested - 1; i >= 0; --i) {
                    if (!counter.CalledFromInside()) ++outsideBeforeLeaving;
                    counter.Leave(slots[i]);
                }
                if (counter.CalledFromInside()) ++insideAfterLeaving;
            });
        }
        while (holding.load() < kThreads) std::this_thread::yield();
        EXPECT_EQ(counter.Total(), static_cast<int64_t>(kThreads * kNested));
        EXPECT_FALSE(counter.CalledFromInside()) << "the other threads' calls are not this one's";
        release.set_value();
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(counter.Total(), 0);
        EXPECT_EQ(insideWhenHolding.load(), kThreads);
        EXPECT_EQ(insideAfterLeaving.load(), 0u);
        EXPECT_EQ(outsideBeforeLeaving.load(), 0u);
    }
}

// Shut-down cycles of the model below: a few hundred in the suite, PEZ_STRESS_CYCLES for a long
// run outside it.
int StressCycles() {
    const char* cycles = std::getenv("PEZ_STRESS_CYCLES");
    return cycles != nullptr && std::atoi(cycles) > 0 ? std::atoi(cycles) : 300;
}

// The admission as the exports and the wrapper use it, cycled, with one count for two flags:
// a call through the export tests the running flag, counts itself, tests it again and then the
// started flag before it uses the engine; a call on the wrapper's slot 4 tests the started flag
// alone around its count. The shut-down clears the running flag, then the started flag, drains,
// writes the engine dead (a plain write: a call still inside would race with it), drains again
// and writes the wrapper dead, then brings both back for the next cycle. Every other call is
// held between its first test and its count, where a shut-down is most likely to slip in.
TEST(StripedCounter, NoCallUsesTheEngineOrWrapperAfterTheDrainAcrossManyShutdowns) {
    const int kCycles = StressCycles();
    constexpr int kCallers = 6;
    for (const Admission kind : kBothKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        StripedCounter counter(kind);
        std::atomic<int> running{0};
        std::atomic<int> started{0};
        std::atomic<bool> finished{false};
        int engineAlive = 1;   // written only while no call is admitted
        int wrapperAlive = 1;  // likewise
        std::atomic<int64_t> admitted{0};
        std::atomic<int64_t> lateCalls{0};
        std::vector<std::thread> callers;
        for (int c = 0; c < kCallers; ++c) {
            const bool throughExport = c % 2 == 0;
            callers.emplace_back([&, throughExport] {
                uint32_t calls = 0;
                while (!finished.load()) {
                    std::atomic<int>& first = throughExport ? running : started;
                    if (first.load() != 1) {
                        std::this_thread::yield();
                        continue;
                    }
                    if ((++calls & 1) == 0) std::this_thread::yield();
                    const util::CountedCall counted(counter);
                    if (first.load() != 1) continue;
                    if (throughExport && wrapperAlive != 1) ++lateCalls;
                    if (started.load() != 1) continue;
                    if (engineAlive != 1 || wrapperAlive != 1) ++lateCalls;
                    ++admitted;
                }
            });
        }
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            engineAlive = 1;
            wrapperAlive = 1;
            const int64_t before = admitted.load();
            started.store(1);
            running.store(1);
            // On a loaded machine the callers may not run at all in one yield: wait (bounded)
            // until one of them is admitted, so that every cycle has a call to race with.
            for (int spin = 0; spin < 10000 && admitted.load() == before; ++spin)
                std::this_thread::yield();
            running.store(0);
            started.store(0);
            while (counter.Total() > 0) std::this_thread::yield();
            engineAlive = 0;
            while (counter.Total() > 0) std::this_thread::yield();
            wrapperAlive = 0;
        }
        finished = true;
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(lateCalls.load(), 0);
        EXPECT_GT(admitted.load(), 0);
        EXPECT_EQ(counter.Total(), 0);
    }
}

// A host whose pools replace their threads: far more threads than slots come and go, a few at a
// time, each calling. Once every slot was taken, new threads take those of ended threads, so
// every one of them owns a slot and counts without a locked instruction, and the counts of
// slots handed on stay exact.
TEST(StripedCounter, ThreadsThatComeAndGoKeepOwningSlots) {
    constexpr size_t kThreads = 5 * StripedCounter::kOwnedSlots;
    constexpr size_t kAtOnce = 8;
    StripedCounter counter;
    std::atomic<size_t> withoutSlot{0};
    std::atomic<int64_t> seenInside{0};
    for (size_t done = 0; done < kThreads; done += kAtOnce) {
        std::vector<std::thread> pool;
        for (size_t t = 0; t < kAtOnce; ++t) {
            pool.emplace_back([&] {
                for (int call = 0; call < 3; ++call) {
                    const util::CountedCall counted(counter);
                    if (counter.CalledFromInside()) ++seenInside;
                }
                if (!StripedCounter::ThreadOwnsSlot()) ++withoutSlot;
            });
        }
        for (std::thread& thread : pool) thread.join();
    }
    EXPECT_EQ(withoutSlot.load(), 0u);
    EXPECT_EQ(seenInside.load(), static_cast<int64_t>(3 * kThreads));
    EXPECT_EQ(counter.Total(), 0);
}

}  // namespace
