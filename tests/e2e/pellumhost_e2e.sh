#!/usr/bin/env bash
# Pellumhost end to end: the command line's refusals, then the rollback demo (every file
# scrambled by a separate process, flagged, rolled back byte for byte) with each file source
# the platform has: on Linux before-write (fanotify, as root) and after-the-fact (inotify); for
# the Windows build (a host ending in .exe, run under Wine) after-the-fact
# (ReadDirectoryChangesW).
# Usage: pellumhost_e2e.sh HOST [PLUGIN]  (PLUGIN: the plug-in to load instead of the one beside
# the host)
set -uo pipefail
host=$1
plugin=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
run=("$host")
if [[ $host == *.exe ]]; then
  run=("$here/../../cmake/wine-run.sh" "$host")
  [[ -n $plugin ]] && plugin="Z:${plugin//\//\\}"
fi
with_plugin=()
[[ -n $plugin ]] && with_plugin=(--plugin "$plugin")
fail=0
check() {  # check NAME EXPECTED-STATUS ACTUAL-STATUS
  if [ "$2" != "$3" ]; then echo "FAIL $1: exit $3, expected $2"; fail=1; else echo "ok   $1"; fi
}

"${run[@]}" --no-such-option >/dev/null 2>&1; check "unknown option" 2 $?
"${run[@]}" rogue >/dev/null 2>&1; check "rogue without a folder" 2 $?
"${run[@]}" --source sideways demo >/dev/null 2>&1; check "unknown source" 2 $?
"${run[@]}" --help | grep -q "rollback demo"; check "help names the demo" 0 $?
"${run[@]}" --plugin /nonexistent/PlugEngineZef.so demo >/dev/null 2>&1
check "missing plug-in" 4 $?

# demo SOURCE KIND: the demo with --source SOURCE watches with KIND and brings every byte back.
demo() {
  local out log
  out=$("${run[@]}" "${with_plugin[@]}" --source "$1" demo 2>&1)
  check "rollback demo ($1)" 0 $?
  echo "$out"
  restored=$(echo "$out" | tr -d '\r' | grep -c ' 1 ok$')
  [ "$restored" = 10 ] || { echo "FAIL: $restored of 10 files restored from one version"; fail=1; }
  echo "$out" | grep -q "watching ($2)" || { echo "FAIL: source not $2"; fail=1; }
  log=$(echo "$out" | tr -d '\r' | sed -n 's/.*(Pellumhost.log): //p')
  [[ $host == *.exe ]] && log=$(WINEDEBUG=-all winepath -u "$log" 2>/dev/null)
  grep -q "process flagged as rogue" "$log/Pellumhost.log" ||
    { echo "FAIL: the detector's decision is not in the log"; fail=1; }
  [ -s "$log/Report.log" ] || { echo "FAIL: no Report.log"; fail=1; }
  rm -rf "$(dirname "$log")"
}

if [[ $host == *.exe ]]; then
  demo best after-the-fact
else
  if [ "$(id -u)" = 0 ]; then
    demo best before-write
  else
    echo "the before-write demo needs root for fanotify permission events; not run"
    demo best after-the-fact
  fi
  demo after-the-fact after-the-fact
fi
exit $fail
