#!/usr/bin/env bash
# The main job: set-up, build both platforms, then run the reference host's demo natively
# and under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh
scripts/setup.sh
scripts/build.sh linux windows >/dev/null

echo "== Linux"
build/linux/bin/Pellumhost demo "$@"
echo "== Windows (under Wine)"
wine_session_start "$PWD/build/windows"
wine build/windows/bin/Pellumhost.exe demo "$@"
