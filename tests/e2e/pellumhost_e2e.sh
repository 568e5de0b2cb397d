#!/usr/bin/env bash
# Pellumhost end to end: the command line's refusals, then the rollback demo (a separate process
# scrambles the files, is flagged, stopped and rolled back byte for byte) with a trusted writer
# beside it that is left alone. Exit 77 skips.
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
# A trusted writer (perl, listed as trusted) rewrites its own files in the watched folder with
# random bytes while the rogue runs, and tries to open a file of the protected database.
work=$(mktemp -d)
"$host" demo --set Trusted=perl --set detector.MinFiles=8 >"$work/out" 2>&1 &
demo=$!
(
  protected=${TMPDIR:-/tmp}/pellumhost-demo-$demo/Protected  # the demo's workspace
  for _ in $(seq 2000); do [ -f "$protected/archive/backup.tar" ] && break; sleep 0.005; done
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
exit $fail
