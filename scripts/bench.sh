#!/usr/bin/env bash
# Builds and runs every benchmark of bench/ (preset linux) in one run, then the whole path
# through the reference host (scripts/bench-watch.sh: a watched tree against an unwatched one,
# as root; skipped with a message otherwise), and writes docs/performance.md: the machine, the
# date, every figure beside its anchor as a ratio, each goal met or missed, and
# docs/performance.svg, a chart of the ratios (gnuplot).
# Usage: scripts/bench.sh [--quick]   (--quick: shorter runs, for trying the script)
set -euo pipefail
cd "$(dirname "$0")/.."

command -v gnuplot >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gnuplot-nox
}
command -v python3 >/dev/null || {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3
}

benches=(dispatch_bench admission_bench event_bench logger_bench diag_bench morrick_bench feedback_bench config_bench path_bench zef_bench)
cmake --preset linux >/dev/null
nice cmake --build --preset linux -j "$(nproc)" --target "${benches[@]}"
# The same CallFunc counted on one shared atomic (PEZ_ATOMIC_ADMISSION), to compare against.
cmake --preset linux -B build/linux-atomic -DPEZ_ATOMIC_ADMISSION=ON >/dev/null
nice cmake --build build/linux-atomic -j "$(nproc)" --target dispatch_bench

min_time=()
[[ ${1:-} == --quick ]] && min_time=(--benchmark_min_time=0.05)
results=$(mktemp -d)
trap 'rm -rf "$results" "$results.watch.json"' EXIT
for bench in "${benches[@]}"; do
  echo "== $bench"
  "build/linux/bin/$bench" "${min_time[@]}" --benchmark_out="$results/$bench.json" \
    --benchmark_out_format=json
done
echo "== dispatch_bench (atomic build)"
build/linux-atomic/bin/dispatch_bench "${min_time[@]}" --benchmark_filter='CallFunc|Direct' \
  --benchmark_out="$results/dispatch_bench_atomic.json" --benchmark_out_format=json

# The whole path as a user feels it; fanotify's before-write source needs root.
watch=()
if [[ $(id -u) -eq 0 ]]; then
  nice cmake --build --preset linux -j "$(nproc)" --target Pellumhost Zef PlugEngineZef Morrick Quastle
  echo "== bench-watch (a watched tree against an unwatched one)"
  scripts/bench-watch.sh "$results.watch.json"
  watch=("$results.watch.json")
else
  echo "== bench-watch skipped: watching before-write needs root (run scripts/bench.sh as root)"
fi

python3 scripts/bench_report.py "$results" docs/performance.md docs/performance.dat "${watch[@]}"
gnuplot -e "data='docs/performance.dat'; out='docs/performance.svg'" scripts/bench_chart.gp
echo "wrote docs/performance.md and docs/performance.svg"
