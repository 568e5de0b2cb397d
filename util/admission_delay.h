// A test build's hold between a call's running test and its count, where a shut-down that
// clears the flag meanwhile must still be seen by the call: in the export
// (PEZ_EXPORT_ADMISSION_DELAY_US) and in the wrapper (PEZ_WRAPPER_ADMISSION_DELAY_US). The
// shipped module holds nothing.
#pragma once
#include <chrono>
#include <cstdint>
#include <thread>

#if !defined(PEZ_EXPORT_ADMISSION_DELAY_US)
#define PEZ_EXPORT_ADMISSION_DELAY_US 0  // microseconds; 0 in every shipped build
#endif
#if !defined(PEZ_WRAPPER_ADMISSION_DELAY_US)
#define PEZ_WRAPPER_ADMISSION_DELAY_US 0
#endif

namespace util {

// Yields the processor until Microseconds have passed; nothing at all for 0.
template <uint32_t Microseconds>
inline void HoldBeforeTheCount() {
    if constexpr (Microseconds != 0) {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::microseconds(Microseconds);
        while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
    }
}

}  // namespace util
