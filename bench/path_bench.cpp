// ExpandPathVariables on a setting as the host sends it (one variable at the front and one in
// the middle), beside the anchor every expansion pays at the least: copying the input text.
#include <benchmark/benchmark.h>

#include <string>

#include "util/path_variables.h"

namespace {

const util::PathVariableTable& BenchTable() {
    static const util::PathVariableTable table = {
        {u"%velk_data_path%", u"C:\\ProgramData\\VELK\\Data"},
        {u"%TEMP%", u"C:\\Users\\someone\\AppData\\Local\\Temp"},
    };
    return table;
}

const std::u16string kSetting = u"%velk_data_path%\\Zef\\Backup\\%TEMP%\\files";

void BM_ExpandPathVariables(benchmark::State& state) {
    std::u16string output;
    for (auto _ : state) {
        benchmark::DoNotOptimize(util::ExpandPathVariables(kSetting, output, true, BenchTable()));
        benchmark::DoNotOptimize(output.data());
    }
}
BENCHMARK(BM_ExpandPathVariables);

void BM_CopyInputAnchor(benchmark::State& state) {
    std::u16string output;
    for (auto _ : state) {
        output = kSetting;
        benchmark::DoNotOptimize(output.data());
    }
}
BENCHMARK(BM_CopyInputAnchor);

}  // namespace
