// A count of calls under way that many threads change at once without sharing a cache line:
// each thread counts on a stripe of its own (threads share stripes only beyond kStripes), and
// the total is the sum of the stripes. Increments, decrements and reads are sequentially
// consistent, so a reader that clears a flag and then reads the total sees every call that
// counted itself before reading the flag.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace util {

class StripedCounter {
public:
    static constexpr size_t kStripes = 16;

    // The stripe of the calling thread; the caller gives it back to Leave.
    size_t Enter() {
        const size_t stripe = ThreadStripe();
        m_stripes[stripe].value.fetch_add(1);
        return stripe;
    }
    void Leave(size_t stripe) { m_stripes[stripe].value.fetch_sub(1); }

    int64_t Total() const {
        int64_t total = 0;
        for (const Stripe& stripe : m_stripes) total += stripe.value.load();
        return total;
    }
    void Reset() {
        for (Stripe& stripe : m_stripes) stripe.value.store(0);
    }

private:
    struct alignas(64) Stripe {
        std::atomic<int32_t> value{0};
    };
    static size_t ThreadStripe();

    Stripe m_stripes[kStripes];
};

// Counts one call for as long as the object lives.
class CountedCall {
public:
    explicit CountedCall(StripedCounter& counter) : m_counter(counter), m_stripe(counter.Enter()) {}
    ~CountedCall() { m_counter.Leave(m_stripe); }
    CountedCall(const CountedCall&) = delete;
    CountedCall& operator=(const CountedCall&) = delete;

private:
    StripedCounter& m_counter;
    size_t m_stripe;
};

}  // namespace util
