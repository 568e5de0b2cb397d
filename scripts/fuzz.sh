#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 s).
# Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_format_w fuzz_text fuzz_path_variables fuzz_config_batch fuzz_zef_records)
scripts/setup.sh
command -v clang++ >/dev/null || { sudo=""; [[ $(id -u) -eq 0 ]] || sudo=sudo;
  $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null; }
scripts/build.sh --quiet linux-fuzz
for target in "${targets[@]}"; do
  corpus=build/linux-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target for ${seconds}s"
  build/linux-fuzz/bin/$target -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE|==[0-9]+==ERROR)' || true
done
