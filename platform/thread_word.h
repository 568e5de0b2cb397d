// One word per thread for the module's own use, read and written on every call into the
// plug-in, so both stay inline. On ELF systems it is an initial-exec thread_local
// (platform/tls_model.h): one load from the thread pointer. On 64-bit Windows it is a TLS index
// of the module read and written in place in the thread's TEB: GCC's own thread_local there is
// emulated, a call into the thread library on every access.
//
// Each module that links the platform layer has a word of its own. A thread reads 0 until it sets
// its word. On Windows the index is taken at the first set by any thread and given back when the
// module is unloaded (with its static objects), which clears the word in every thread, so a
// module loaded again reads 0 everywhere. Any thread; each reads and writes only its own.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/tls_model.h"

namespace platform {

#if defined(_WIN32) && defined(__x86_64__)

namespace thread_word_detail {

constexpr uint32_t kInlineSlots = 64;         // TEB.TlsSlots: indexes below 64
constexpr uint64_t kTlsSlotsOffset = 0x1480;  // of TEB.TlsSlots on x64, from the gs base
// The module's TLS index once taken, when it is one of the kInlineSlots; kInlineSlots or more
// otherwise (none taken yet, an index past them, or none left), when the word lives elsewhere.
extern std::atomic<uint32_t> g_inlineIndex;

// The calling thread's value of an inline index, as TlsGetValue and TlsSetValue would read and
// write it.
inline uint64_t ReadTebSlot(uint64_t index) {
    uint64_t value;
    asm volatile("movq %%gs:(%1), %0" : "=r"(value) : "r"(kTlsSlotsOffset + 8 * index));
    return value;
}
inline void WriteTebSlot(uint64_t index, uint64_t value) {
    asm volatile("movq %0, %%gs:(%1)" : : "r"(value), "r"(kTlsSlotsOffset + 8 * index));
}

uint64_t ReadOutOfLine();
void WriteOutOfLine(uint64_t value);

}  // namespace thread_word_detail

inline uint64_t ThreadWord() {
    using namespace thread_word_detail;
    const uint32_t index = g_inlineIndex.load(std::memory_order_relaxed);
    return index < kInlineSlots ? ReadTebSlot(index) : ReadOutOfLine();
}

inline void SetThreadWord(uint64_t value) {
    using namespace thread_word_detail;
    const uint32_t index = g_inlineIndex.load(std::memory_order_relaxed);
    if (index < kInlineSlots) {
        WriteTebSlot(index, value);
    } else {
        WriteOutOfLine(value);
    }
}

#else

namespace thread_word_detail {
// Constant-initialised and trivially destroyed: no guard or wrapper on the way in.
PEZ_TLS_INITIAL_EXEC inline thread_local uint64_t t_word = 0;
}  // namespace thread_word_detail

inline uint64_t ThreadWord() { return thread_word_detail::t_word; }
inline void SetThreadWord(uint64_t value) { thread_word_detail::t_word = value; }

#endif

}  // namespace platform
