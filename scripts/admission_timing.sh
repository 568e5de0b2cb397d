#!/usr/bin/env bash
# Times a call's admission with the same program built for Linux and for Windows (run under
# Wine), one after the other on this machine: bench/admission_timing.cpp. A measurement, not a
# test. Usage: scripts/admission_timing.sh [calls per run]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh

for preset in linux windows; do
  cmake --preset "$preset" >/dev/null
  nice cmake --build --preset "$preset" -j "$(nproc)" --target admission_timing >/dev/null
done
build/linux/bin/admission_timing "$@"
echo
wine_session_start "$PWD/build/windows"
wine build/windows/bin/admission_timing.exe "$@"
