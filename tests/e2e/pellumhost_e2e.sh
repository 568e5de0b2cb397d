#!/usr/bin/env bash
# Pellumhost end to end: the command line's refusals, then the rollback demo (every file
# scrambled by a separate process, flagged, rolled back byte for byte). Exit 77 skips.
set -uo pipefail
host=$1
bin=$(dirname "$host")
fail=0
check() {  # check NAME EXPECTED-STATUS ACTUAL-STATUS
  if [ "$2" != "$3" ]; then echo "FAIL $1: exit $3, expected $2"; fail=1; else echo "ok   $1"; fi
}

"$host" --no-such-option >/dev/null 2>&1; check "unknown option" 2 $?
"$host" rogue >/dev/null 2>&1; check "rogue without a folder" 2 $?
"$host" --help | grep -q "rollback demo"; check "help names the demo" 0 $?
if [ "$(id -u)" = 0 ]; then
  "$host" --plugin /nonexistent/PlugEngineZef.so demo >/dev/null 2>&1
  check "missing plug-in" 4 $?
fi

if [ "$(id -u)" != 0 ]; then
  echo "SKIP the rollback demo: fanotify permission events need root"
  [ $fail = 0 ] && exit 77 || exit 1
fi
out=$("$host" demo 2>&1)
check "rollback demo" 0 $?
echo "$out"
restored=$(echo "$out" | grep -c ' 1 ok$')
[ "$restored" = 10 ] || { echo "FAIL: $restored of 10 files restored from one version"; fail=1; }
echo "$out" | grep -q "watching (before-write)" || { echo "FAIL: source not before-write"; fail=1; }
log=$(echo "$out" | sed -n 's/.*(Pellumhost.log): //p')
grep -q "process flagged as rogue" "$log/Pellumhost.log" ||
  { echo "FAIL: the detector's decision is not in the log"; fail=1; }
[ -s "$log/Report.log" ] || { echo "FAIL: no Report.log"; fail=1; }
rm -rf "$(dirname "$log")"
exit $fail
