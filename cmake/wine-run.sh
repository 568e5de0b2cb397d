#!/usr/bin/env bash
# Runs one Windows program under Wine with the prefix of the build folder it lies in.
# The test script starts one persistent wineserver for the whole run before CTest.
#
# A program that fails without printing a single byte never reached its own main (every
# test program prints its name before it runs anything), so Wine failed to start it: that
# launch is tried again, at most twice, and said so on stderr. A program that printed
# anything keeps its result.
set -uo pipefail
program=$1
dir=$(cd "$(dirname "$program")" && pwd)
build=${dir%/bin}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  start=$SECONDS
  wine "$@" >"$out" 2>"$err"
  status=$?
  cat "$out"
  cat "$err" >&2
  if [[ $status -eq 0 || -s $out || -s $err || $attempt -eq 3 ]]; then
    [[ $status -eq 0 ]] || echo "wine-run: $(basename "$program") exited with status $status after $((SECONDS - start)) s (attempt $attempt)" >&2
    exit "$status"
  fi
  echo "wine-run: $(basename "$program") exited with status $status before printing anything; starting it again" >&2
done
