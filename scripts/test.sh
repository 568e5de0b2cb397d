#!/usr/bin/env bash
# Every test on both platforms: set-up, then for each preset a build and its CTest suite
# (Linux plain, with AddressSanitizer and UndefinedBehaviorSanitizer, with ThreadSanitizer,
# and the Windows build under Wine; the Linux suites replay every fuzz finding), then the
# step "fuzz": every libFuzzer target for a bounded time (FUZZ_SECONDS each, default 55), a
# target with a finding counted as a failure. Ends with one summary line.
# Usage: scripts/test.sh [preset...|fuzz]
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(linux linux-asan linux-tsan windows fuzz)
jobs=$(nproc)

scripts/setup.sh || { echo "summary: 0 passed, 1 failed (set-up)"; exit 1; }

passed=0
failed=0
broken=()
for preset in "${presets[@]}"; do
  if [[ $preset == fuzz ]]; then
    echo "== fuzz: ${FUZZ_SECONDS:-55}s per target"
    log=$(mktemp)
    scripts/fuzz.sh "${FUZZ_SECONDS:-55}" 2>&1 | tee "$log"
    clean=$(grep -cE '^fuzz: .* 0 findings$' "$log")
    dirty=$(grep -cE '^fuzz: .* [1-9][0-9]* findings$' "$log")
    [[ $clean -gt 0 || $dirty -gt 0 ]] || dirty=1  # the fuzz build failed
    passed=$((passed + clean))
    failed=$((failed + dirty))
    [[ $dirty -eq 0 ]] || broken+=("fuzz")
    rm -f "$log"
    continue
  fi
  echo "== $preset: build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    broken+=("$preset (build)")
    failed=$((failed + 1))
    continue
  fi
  [[ $preset == windows ]] && wine_session_start "$PWD/build/windows"
  echo "== $preset: test"
  log=$(mktemp)
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
  # "100% tests passed, 0 tests failed out of 34"
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z $line ]]; then
    broken+=("$preset (no test ran)")
    failed=$((failed + 1))
  else
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [[ $bad -eq 0 ]] || broken+=("$preset")
  fi
  rm -f "$log"
  [[ $preset == windows ]] && wine_session_stop
done

echo
[[ ${#broken[@]} -eq 0 ]] || echo "failing: ${broken[*]}"
echo "summary: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
