#!/usr/bin/env bash
# Pellumhost end to end: the command line's refusals, then the rollback demo (every file
# scrambled by a separate process, flagged, stopped and rolled back byte for byte) with each
# file source the platform has: on Linux before-write (fanotify, as root) and after-the-fact
# (inotify); for the Windows build (a host ending in .exe, run under Wine) after-the-fact
# (ReadDirectoryChangesW). The rogue ends by renaming one file and deleting another; after the
# fact, both come back from their editions before the burst. On Linux as root, once more with a trusted writer beside the rogue
# that is left alone.
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
  # The flagged rogue is stopped, so it may not reach every file: every file is as it was, and
  # the files it reached came back from one version each.
  same=$(echo "$out" | tr -d '\r' | grep -c ' ok$')
  [ "$same" = 10 ] || { echo "FAIL: $same of 10 files as they were"; fail=1; }
  echo "$out" | tr -d '\r' | grep -q ' 1 ok$' || { echo "FAIL: no file restored"; fail=1; }
  echo "$out" | grep -q "watching ($2)" || { echo "FAIL: source not $2"; fail=1; }
  log=$(echo "$out" | tr -d '\r' | sed -n 's/.*(Pellumhost.log): //p')
  [[ $host == *.exe ]] && log=$(WINEDEBUG=-all winepath -u "$log" 2>/dev/null)
  grep -q "process flagged as rogue" "$log/Pellumhost.log" ||
    { echo "FAIL: the detector's decision is not in the log"; fail=1; }
  [ -s "$log/Report.log" ] || { echo "FAIL: no Report.log"; fail=1; }
  if [ "$2" = after-the-fact ]; then
    # The rogue also renamed one scrambled file to NAME.locked and deleted another: both came
    # back under their own names (counted above), the ransom copy is left alone, and the host's
    # own restores were not taken for changes.
    gone=$(grep -c "rollback of 0: restore .*(removed since), result 0x20FF0000" "$log/Pellumhost.log")
    [ "$gone" = 2 ] || { echo "FAIL: $gone of 2 files removed or renamed away brought back"; fail=1; }
    grep -q "rollback of 0: quarantine .*\.locked (created since), result 0x20FF0000" "$log/Pellumhost.log" ||
      { echo "FAIL: the renamed copy was not quarantined"; fail=1; }
    grep -q "[1-9][0-9]* changes to the .* ignored as the host's own restores" "$log/Pellumhost.log" ||
      { echo "FAIL: the host's own restores were not ignored"; fail=1; }
  fi
  feedback_per_restore "$out" "$log"
  rm -rf "$(dirname "$log")"
}

# feedback_per_restore OUTPUT LOG-FOLDER: every restore by edition sent its restore feedback,
# decoded in feedback.log.
feedback_per_restore() {
  local expected entries
  expected=$(grep -c "rollback of [0-9]*: restore .*, result 0x20FF0000" "$2/Pellumhost.log")
  entries=$(grep -c "restore feedback (ZEF_001)" "$2/feedback.log" 2>/dev/null)
  [ "${entries:-0}" = "${expected:-0}" ] ||
    { echo "FAIL: feedback.log holds ${entries:-0} restore feedback entries, expected ${expected:-0}"; fail=1; }
  if [ "${expected:-0}" != 0 ] && ! grep -q "Result: 0x20FF0000" "$2/feedback.log"; then
    echo "FAIL: the restore feedback is not decoded"; fail=1
  fi
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
if [[ $host != *.exe && $(id -u) = 0 ]]; then
  # A trusted writer (perl, listed as trusted) rewrites its own files in the watched folder with
  # random bytes while the rogue runs, and tries to open a file of the protected database.
  work=$(mktemp -d)
  "$host" --source before-write demo --set Trusted=perl --set detector.MinFiles=8 >"$work/out" 2>&1 &
  demo=$!
  (
    protected=${TMPDIR:-/tmp}/pellumhost-demo-$demo/Protected  # the demo's workspace
    # Until the demo watches (a slow start, under a sanitizer on a loaded machine, would
    # otherwise see none of these writes).
    for _ in $(seq 4000); do
      grep -q "watching " "$protected/../Log/Pellumhost.log" 2>/dev/null && break; sleep 0.005
    done
    exec perl -e '
      my ($dir, $expect) = @ARGV;
      my $said = "no database file";
      open my $r, "<", "/dev/urandom" or die;
      my %last;
      for my $round (1 .. 60) {
        if ($said !~ /^refused/) {
          my ($db) = grep { -f } glob("$dir/../Data/*"), glob("$dir/../Data/*/*");
          if ($db) { $said = open(my $o, ">>", $db) ? "opened" : "refused: $!"; }
        }
        for my $i (0 .. 5) {
          read($r, my $bytes, 65536);
          open my $o, ">", "$dir/trusted-$i.dat" or die; binmode $o; print $o $bytes; close $o;
          $last{$i} = $bytes;
        }
        select(undef, undef, undef, 0.02);
      }
      for my $i (keys %last) {
        open my $o, ">", "$expect/trusted-$i.dat" or die; binmode $o; print $o $last{$i}; close $o;
      }
      open my $s, ">", "$expect/db-open" or die; print $s "$said\n"; close $s;' "$protected" "$work"
  ) &
  writer=$!
  wait $demo
  check "rollback demo" 0 $?
  wait $writer
  out=$(cat "$work/out")
  echo "$out"
  restored=$(echo "$out" | grep -c ' ok$')
  [ "$restored" = 10 ] || { echo "FAIL: $restored of 10 files as they were"; fail=1; }
  echo "$out" | grep -q "watching (before-write)" || { echo "FAIL: source not before-write"; fail=1; }
  log=$(echo "$out" | sed -n 's/.*(Pellumhost.log): //p')
  grep -q "process flagged as rogue" "$log/Pellumhost.log" ||
    { echo "FAIL: the detector's decision is not in the log"; fail=1; }
  grep -q "stopped before its files are rolled back" "$log/Pellumhost.log" ||
    { echo "FAIL: the flagged process was not stopped"; fail=1; }
  [ -s "$log/Report.log" ] || { echo "FAIL: no Report.log"; fail=1; }
  [ -f "$log/feedback.log" ] || { echo "FAIL: no feedback.log"; fail=1; }
  feedback_per_restore "$out" "$log"
  # The trusted writer: judged trusted, never flagged, its files as it left them unless the rogue
  # changed them too (then they come back as they were before the rogue).
  grep -q "(/usr/bin/perl) is trusted" "$log/Pellumhost.log" ||
    { echo "FAIL: the trusted writer's writes were not judged"; fail=1; }
  if grep "flagged as rogue" "$log/Pellumhost.log" | grep -q "(/usr/bin/perl)"; then
    echo "FAIL: the trusted writer was flagged"; fail=1
  fi
  protected=$(dirname "$log")/Protected
  for i in 0 1 2 3 4 5; do
    grep -q "rollback of .*/trusted-$i.dat" "$log/Pellumhost.log" && continue
    cmp -s "$work/trusted-$i.dat" "$protected/trusted-$i.dat" ||
      { echo "FAIL: trusted-$i.dat was changed by someone else"; fail=1; }
  done
  grep -q "^refused" "$work/db-open" ||
    { echo "FAIL: an open in the protected database: $(cat "$work/db-open")"; fail=1; }
  rm -rf "$(dirname "$log")" "$work"
fi
exit $fail
