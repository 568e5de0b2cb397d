#!/usr/bin/env bash
# Line and branch coverage of the product's folders (plugin/ engine/ config/ util/ host/
# platform/) by the Linux suite: a build with --coverage in build/coverage, its CTest suite
# (valgrind's run left out: it runs the same module tests again), then gcovr. Prints gcovr's
# summary and writes build/coverage/coverage.json (gcovr's JSON summary, per file). Counters are
# updated atomically: the threaded tests otherwise leave counts gcov prints as negative, which
# gcovr refuses to read.
# Usage: scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v gcovr >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr
}
build=build/coverage
cmake --preset linux -B "$build" -DCMAKE_BUILD_TYPE=Debug -DPEZ_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" \
  "-DCMAKE_C_FLAGS=--coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j "$(nproc)" -E '^Valgrind' --output-on-failure | tail -n 3
filters=()
for folder in plugin engine config util host platform; do filters+=(--filter "$PWD/$folder/"); done
gcovr --root . "${filters[@]}" --exclude '.*/win32/.*' --exclude-unreachable-branches \
  --exclude-throw-branches --gcov-ignore-parse-errors --print-summary --json-summary "$build/coverage.json" \
  --json-summary-pretty -o "$build/coverage.txt" "$build"
