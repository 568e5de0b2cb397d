#!/usr/bin/env bash
# Configures and builds the given presets (default: linux and windows). With --quiet, the
# compiler's output is shown only when a build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
quiet=false
if [[ ${1:-} == --quiet ]]; then quiet=true; shift; fi
presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(linux windows)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  if $quiet; then
    log=$(mktemp)
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
      tail -n 60 "$log"
      rm -f "$log"
      echo "build of $preset failed" >&2
      exit 1
    fi
    rm -f "$log"
  else
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  fi
done
