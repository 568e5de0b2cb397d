// A configuration query's batch: the thirteen settings serialised into a request, and a reply
// of thirteen answers parsed and read back, through the reference message library.
#include <benchmark/benchmark.h>

#include <string>

#include "config/config_batch.h"

namespace {

void AddThirteen(config::CConfigBatchCommands& batch) {
    const std::u16string empty;
    batch.AddCommand(4, 0x03670001, 4);
    batch.AddCommand(4, 0x03620002, empty);
    batch.AddCommand(4, 0x03620005, empty);
    batch.AddCommand(4, 0x03620003, empty);
    batch.AddCommand(4, 0x03670004, 1024);
    batch.AddCommand(4, 0x03670006, 0);
    batch.AddCommand(4, 0x03670007, 1);
    batch.AddCommand(4, 0x03670008, 21);
    batch.AddCommand(4, 0x03610009, true);
    batch.AddCommand(4, 0x0367000A, 1u);
    batch.AddCommand(4, 0x0367000B, 6u);
    batch.AddCommand(4, 0x0367000C, 0u);
    batch.AddCommand(4, 0x0367000D, 0u);
}

void BM_SerialiseThirteenSettings(benchmark::State& state) {
    for (auto _ : state) {
        config::CConfigBatchCommands batch(2);
        AddThirteen(batch);
        VELK_DataHandleWrapper request;
        benchmark::DoNotOptimize(batch.Serialize(request));
    }
}
BENCHMARK(BM_SerialiseThirteenSettings);

void BM_ParseAndReadThirteenSettings(benchmark::State& state) {
    config::CConfigBatchCommands reply(2);
    AddThirteen(reply);
    VELK_DataHandleWrapper message;
    reply.Serialize(message);
    for (auto _ : state) {
        config::CConfigBatchCommands parsed(message);
        int number = 0;
        unsigned int unsignedNumber = 0;
        bool flag = false;
        std::u16string text;
        parsed.GetValue(0x03670001, number);
        parsed.GetValue(0x03620002, text);
        parsed.GetValue(0x03620005, text);
        parsed.GetValue(0x03620003, text);
        parsed.GetValue(0x03670004, number);
        parsed.GetValue(0x03670006, number);
        parsed.GetValue(0x03670007, number);
        parsed.GetValue(0x03670008, number);
        parsed.GetValue(0x03610009, flag);
        parsed.GetValue(0x0367000A, unsignedNumber);
        parsed.GetValue(0x0367000B, unsignedNumber);
        parsed.GetValue(0x0367000C, unsignedNumber);
        parsed.GetValue(0x0367000D, unsignedNumber);
        benchmark::DoNotOptimize(number + unsignedNumber + flag + text.size());
    }
}
BENCHMARK(BM_ParseAndReadThirteenSettings);

}  // namespace
