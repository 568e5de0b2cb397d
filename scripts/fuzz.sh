#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset linux-fuzz) and runs each for a while
# (default 60 s), starting from its seeds (fuzz/corpus/<target>) and findings
# (fuzz/regressions/<target>) and growing a corpus in the build folder. A finding is written
# to build/linux-fuzz/findings/<target>/ (never to the working folder); move it to
# fuzz/regressions/<target>/ once the fault is fixed. One line per target:
#   fuzz: <target> <executions> executions, <n> findings
# and the exit status is the number of targets with findings.
# Usage: scripts/fuzz.sh [seconds] [target...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] ||
  targets=(fuzz_format_w fuzz_text fuzz_path_variables fuzz_config_batch fuzz_event_message
          fuzz_zef_records fuzz_zef_edition_log fuzz_host_feedback)
scripts/setup.sh || exit 1  # clang and its libFuzzer runtime among the rest
{ cmake --preset linux-fuzz >/dev/null && cmake --build --preset linux-fuzz -j "$(nproc)" >/dev/null; } ||
  { echo "fuzz: the fuzz build failed"; exit 1; }

failed=0
for target in "${targets[@]}"; do
  corpus=build/linux-fuzz/corpus/$target
  findings=build/linux-fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus")
  for saved in fuzz/corpus/$target fuzz/regressions/$target; do
    [[ -d $saved ]] && inputs+=("$saved")
  done
  log=build/linux-fuzz/$target.log
  build/linux-fuzz/bin/$target -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1
  status=$?
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  found=$(find "$findings" -type f | wc -l)
  [[ $status -eq 0 ]] || [[ $found -gt 0 ]] || found=1  # a crash that left no file
  echo "fuzz: $target ${runs:-0} executions, $found findings"
  if [[ $found -gt 0 ]]; then
    grep -E '==[0-9]+==ERROR|deadly signal|Test unit written' "$log" | head -n 5
    failed=$((failed + 1))
  fi
done
exit "$failed"
