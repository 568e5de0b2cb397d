// Stripes handed to threads in turn, once per thread.
#include "util/striped_counter.h"

namespace util {

size_t StripedCounter::ThreadStripe() {
    static std::atomic<uint32_t> nextThread{0};
    thread_local uint32_t stripe = UINT32_MAX;  // trivially initialised: cheap in every module
    if (stripe == UINT32_MAX) stripe = nextThread.fetch_add(1, std::memory_order_relaxed) % kStripes;
    return stripe;
}

}  // namespace util
