// The reference message library's cost per operation, as the plug-in uses it: a record made,
// filled, read and destroyed; and a shared read from two threads.
#include <benchmark/benchmark.h>

#include "host/message_library.h"

namespace {

void BM_CreateFillReadDestroy(benchmark::State& state) {
    for (auto _ : state) {
        VELK_DataHandle handle{};
        VELK_Msg_CreateDataHandle(0x10030, &handle);
        VELK_Msg_PutInt32(handle, 0x207D1, 10012);
        VELK_Msg_PutInt32(handle, 0x207D2, 100121);
        VELK_Msg_PutWString(handle, 17, u"C:\\Program Files\\VELK", 21);
        int32_t value = 0;
        VELK_Msg_GetInt32At(handle, 0x207D2, 0, &value);
        uint32_t length = 0;
        VELK_Msg_GetWStringAt(handle, 17, 0, nullptr, 0, &length);
        benchmark::DoNotOptimize(value + length);
        VELK_Msg_DestroyDataHandle(&handle);
    }
}
BENCHMARK(BM_CreateFillReadDestroy);

void BM_GetUInt32(benchmark::State& state) {
    static VELK_DataHandle shared{};
    if (state.thread_index() == 0) {
        VELK_Msg_CreateDataHandle(1, &shared);
        for (uint32_t i = 0; i < 8; ++i) VELK_Msg_PutUInt32(shared, i, i);
    }
    for (auto _ : state) {
        uint32_t value = 0;
        VELK_Msg_GetUInt32At(shared, 7, 0, &value);
        benchmark::DoNotOptimize(value);
    }
    if (state.thread_index() == 0) VELK_Msg_DestroyDataHandle(&shared);
}
BENCHMARK(BM_GetUInt32)->Threads(1)->Threads(2)->Threads(8);

}  // namespace
