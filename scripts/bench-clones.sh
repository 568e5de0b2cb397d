#!/usr/bin/env bash
# Runs the reference engine's benchmark on a file system that shares blocks: a btrfs image
# mounted through a loop device (needs root), so that versions and restores are taken as
# clones (FICLONE). Extra arguments go to zef_bench. The image is removed on exit.
# Usage: scripts/bench-clones.sh [--benchmark_filter=...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
bench=build/linux/bin/zef_bench
[[ -x $bench ]] || { cmake --preset linux >/dev/null && cmake --build --preset linux --target zef_bench; }

work=$(mktemp -d)
cleanup() {
  umount "$work/mnt" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
truncate -s 1G "$work/btrfs.img"
mkfs.btrfs -q "$work/btrfs.img"
mkdir "$work/mnt"
mount -o loop "$work/btrfs.img" "$work/mnt"
ZEF_BENCH_FOLDER="$work/mnt" "$bench" "$@"
