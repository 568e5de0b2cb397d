#!/usr/bin/env bash
# The main job: set-up, build both platforms, then run the reference host's rollback demo on
# Linux (before-write with fanotify as root, after the fact with inotify otherwise) and the
# Windows build's demo under Wine (after the fact, ReadDirectoryChangesW); both must exit 0.
# Extra arguments go to Pellumhost (for example --verbose, or --source after-the-fact).
#
# The demo folder holds the reference engine beside the plug-in; on Windows it also holds the
# plug-in's test build, which accepts an unsigned engine (the shipped PlugEngineZef.dll refuses
# one, as it must). The engine keeps its database in the folder's Data and its log in Log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh
scripts/setup.sh
scripts/build.sh --quiet linux windows

stage() {  # stage PRESET SUFFIX PLUGIN-BUILD
  local bin=build/$1/bin demo=build/$1/demo
  rm -rf "$demo" && mkdir -p "$demo"
  cp "$bin/Pellumhost$4" "$bin/DemoRogue$4" "$bin/Quastle$2" "$bin/Morrick$2" "$demo/"
  cp "$bin/$3$2" "$demo/PlugEngineZef$2"
  cp "$bin/Zef$2" "$demo/Zef$2"
  echo "$demo"
}

echo "== Linux"
demo=$(stage linux .so PlugEngineZef "")
"$demo/Pellumhost" --log-level 2 --set HistoryKeepDays=14 demo "$@"

echo "== Windows (under Wine)"
demo=$(stage windows .dll PlugEngineZefUnsignedOk .exe)
wine_session_start "$PWD/build/windows"
wine "$demo/Pellumhost.exe" --log-level 2 --set HistoryKeepDays=14 demo "$@"
