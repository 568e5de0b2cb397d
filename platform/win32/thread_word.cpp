// The module's TLS index behind its thread word: taken by the first thread that sets its word,
// given back when the module is unloaded. Where TlsAlloc gives no index among the TEB's inline
// slots (a process that took 64 already), the index is given back at once and the word lives
// in GCC's own, emulated, thread_local instead.
#include "platform/thread_word.h"

#include <windows.h>

namespace platform {

namespace thread_word_detail {
std::atomic<uint32_t> g_inlineIndex{TLS_OUT_OF_INDEXES};
}  // namespace thread_word_detail

namespace {

using thread_word_detail::g_inlineIndex;
using thread_word_detail::kInlineSlots;

constexpr uint32_t kNotTaken = TLS_OUT_OF_INDEXES;
constexpr uint32_t kNoInlineIndex = TLS_OUT_OF_INDEXES - 1;

// The index kept (below kInlineSlots), kNotTaken before the first set, or kNoInlineIndex.
std::atomic<uint32_t> g_index{kNotTaken};
thread_local uint64_t t_wordWithoutInlineIndex = 0;

// Two threads setting their first word at once may both allocate: one index is kept.
uint32_t TakeIndex() {
    uint32_t index = g_index.load(std::memory_order_acquire);
    if (index != kNotTaken) return index;
    DWORD allocated = TlsAlloc();
    if (allocated != TLS_OUT_OF_INDEXES && allocated >= kInlineSlots) {
        TlsFree(allocated);
        allocated = TLS_OUT_OF_INDEXES;
    }
    const uint32_t mine = allocated == TLS_OUT_OF_INDEXES ? kNoInlineIndex : allocated;
    if (!g_index.compare_exchange_strong(index, mine, std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
        if (allocated != TLS_OUT_OF_INDEXES) TlsFree(allocated);
        return index;
    }
    if (mine != kNoInlineIndex) g_inlineIndex.store(mine, std::memory_order_release);
    return mine;
}

// Destroyed with the module's static objects, when the module is unloaded (or the program
// ends): TlsFree clears the word in every thread for whoever takes the index next.
struct IndexGivenBackAtUnload {
    ~IndexGivenBackAtUnload() {
        g_inlineIndex.store(kNotTaken, std::memory_order_relaxed);
        const uint32_t index = g_index.exchange(kNotTaken);
        if (index != kNotTaken && index != kNoInlineIndex) TlsFree(index);
    }
} g_indexGivenBackAtUnload;

}  // namespace

namespace thread_word_detail {

// (Another thread may have taken the index since the caller read g_inlineIndex.)
uint64_t ReadOutOfLine() {
    const uint32_t index = g_index.load(std::memory_order_acquire);
    if (index == kNotTaken) return 0;
    return index == kNoInlineIndex ? t_wordWithoutInlineIndex : ReadTebSlot(index);
}

void WriteOutOfLine(uint64_t value) {
    const uint32_t index = TakeIndex();
    if (index == kNoInlineIndex) {
        t_wordWithoutInlineIndex = value;
    } else {
        WriteTebSlot(index, value);
    }
}

}  // namespace thread_word_detail

}  // namespace platform
