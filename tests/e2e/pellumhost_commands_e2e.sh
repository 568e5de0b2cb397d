#!/usr/bin/env bash
# Pellumhost's commands end to end, each run a separate process on one database: backup,
# versions, restore (newest, one version, a process), status and policies with their --json
# documents parsed back; the refusals with their words and exit statuses; the host killed in
# the middle of a big backup losing no completed edition; service mode with its configuration
# file (changed while it runs), a rogue rolled back and a stop request. As root on Linux,
# service mode before-write too: a version taken before another process writes, a clean stop
# on SIGTERM, a second instance refused.
# Usage: pellumhost_commands_e2e.sh HOST [HOST-ARGS...] (Windows: the Wine runner, then the .exe)
set -uo pipefail
host=("$@")
program=${host[-1]}
bin=$(dirname "$program")
windows=0
plugin=()
if [[ $program == *.exe ]]; then
  windows=1
  # Test engines are not signed: the test build of the plug-in accepts them.
  plugin=(--plugin "$bin/PlugEngineZefUnsignedOk.dll")
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
db=$work/db
files=$work/files
mkdir -p "$files/nested"
fail=0

ph() { "${host[@]}" "${plugin[@]}" "$@"; }
check() {  # check NAME EXPECTED-STATUS ACTUAL-STATUS
  if [ "$2" != "$3" ]; then echo "FAIL $1: exit $3, expected $2"; fail=1; else echo "ok   $1"; fi
}
expect() {  # expect NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fail=1; fi
}
# The value of a Python expression over the JSON document in a file (d); fails on anything but
# exactly one JSON document.
field() { python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"; }
same() { cmp -s "$1" "$2"; }

# Bad command lines: exit 2 and a line that says what is wrong (Linux: the parser is the same
# portable code under Wine, where every start costs seconds).
refused() {  # refused SAID ARGS...
  local said=$1; shift
  ph "$@" >"$work/refused" 2>&1
  local status=$?
  if [ $status = 2 ] && grep -qF -- "$said" "$work/refused"; then echo "ok   refused: $*"
  else echo "FAIL refused: $*: exit $status, $(head -c 300 "$work/refused")"; fail=1; fi
}
refused "restore needs a FILE or --process PID" restore
refused "unexpected argument 'b'" versions a b
refused "count from 1" restore f --version 0
if [ $windows = 0 ]; then
  refused "--config needs a file" status --config
  refused "--config needs a file" status --config ""
  refused "unknown command 'rogue'" rogue /victims
  refused "--watch belongs to run" stop --watch /a
  refused "stop takes no file" stop f.txt
  refused "unknown option '--no-such'" --no-such
  refused "versions needs a FILE" versions
  refused "backup needs a FILE" backup
  refused "status takes no file" status f.txt
  refused "takes no FILE and no --version" restore f --process 7
  refused "takes no FILE and no --version" restore --process 7 --version 1
  refused "count from 1" restore f --version m0
  refused "--version takes a whole number" restore f --version -1
  refused "--version takes a whole number" restore f --version 4294967296
  refused "--process needs a process id above 0" restore --process 0
  refused "--process takes a whole number" restore --process x7
  refused "--version belongs to restore" versions f --version 2
  refused "--watch belongs to run" status --watch /a
  refused "--watch needs a folder" run --watch
  refused "--db needs a folder" status --db
  refused "--db needs a folder" status --db ""
  refused "--log-level takes a whole number" --log-level 2x
  # Settings that would erase history or mean nothing are refused with their range.
  while IFS='|' read -r said setting; do
    refused "$said" status --db "$work/refusals" --set "$setting" </dev/null
  done <<'ROWS'
whole number|HistoryKeepDays=x
whole number|DbSize=twelve
unknown setting|NoSuchSetting=1
0 sets no limit|DbSize=4194305
from 0 to 4194304|DbSize=-3
0 keeps editions|HistoryKeepDays=-1
from 0 to 1|WorkMode=2
to 2147483647|MaxBackupFileSize=2147483648
MinFiles|detector.MinFiles=none
ROWS
fi
# The overview lists every command once and the shared options; a command's help gives its own
# usage first, points to the overview for the shared options and tells the exit statuses.
commands=(demo lifecycle run stop versions restore rollback backup status policies check repair)
ph --help >"$work/help" 2>&1; check "--help" 0 $?
for command in "${commands[@]}"; do
  [ "$(grep -c "^  $command " "$work/help")" = 1 ] || { echo "FAIL --help lists $command not once"; fail=1; }
done
grep -q -- "--log-file PATH" "$work/help" || { echo "FAIL --help lacks the shared options"; fail=1; }
helped=("${commands[@]}")
[ $windows = 1 ] && helped=(restore)  # every start under Wine costs seconds
for command in "${helped[@]}"; do
  ph "$command" --help >"$work/help" 2>&1
  check "$command --help" 0 $?
  head -n 1 "$work/help" | grep -q "^usage: Pellumhost $command" && grep -q "Exit status" "$work/help" &&
    grep -q "12 the database is damaged" "$work/help" && grep -q '`Pellumhost --help`' "$work/help" &&
    ! grep -q -- "--log-file PATH" "$work/help" ||
    { echo "FAIL $command --help: not its synopsis first, the exit statuses and a pointer to the shared options"; fail=1; }
  [ "$command" != restore ] || grep -q -- "--version N" "$work/help" || { echo "FAIL restore --help lacks --version N"; fail=1; }
done

# Two editions of one file, each from its own run, then read back as a script would.
printf 'first content\n' >"$files/nested/doc.txt"
cp "$files/nested/doc.txt" "$work/first"
ph backup "$files/nested/doc.txt" --db "$db" >"$work/out"; check "backup" 0 $?
grep -q "1 version kept" "$work/out" || { echo "FAIL backup output: $(cat "$work/out")"; fail=1; }
printf 'second, longer content\n' >"$files/nested/doc.txt"
cp "$files/nested/doc.txt" "$work/second"
ph backup "$files/nested/doc.txt" --db "$db" --json >"$work/backup.json"; check "backup --json" 0 $?
expect "backup --json counts two versions" [ "$(field "$work/backup.json" 'd["versions"]')" = 2 ]
ph backup "$files/missing.txt" --db "$db" >/dev/null 2>&1; check "backup of a missing file" 7 $?

ph versions "$files/nested/doc.txt" --db "$db" --json >"$work/versions.json"
check "versions --json after a restart" 0 $?
expect "two versions, newest first, numbered by edition" [ "$(field "$work/versions.json" \
  '[(v["number"], v["size"], v["where"]) for v in d["versions"]]')" = \
  "[('2', $(wc -c <"$work/second"), 'database'), ('1', $(wc -c <"$work/first"), 'database')]" ]
ph versions "$files/nested/doc.txt" --db "$db" >"$work/out" 2>"$work/err"; check "versions" 0 $?
expect "no diagnostic line on the terminal" [ ! -s "$work/err" ]
ph versions "$files/nested/doc.txt" --db "$db" --verbose >/dev/null 2>"$work/err"
expect "--verbose sends them to the terminal" grep -q "Plugin ZEF Wrapper" "$work/err"
grep -q "2 versions kept" "$work/out" || { echo "FAIL versions text: $(cat "$work/out")"; fail=1; }
ph versions "$work/nowhere/x.txt" --db "$db" >/dev/null 2>&1; check "versions of nothing" 7 $?

printf 'scrambled\n' >"$files/nested/doc.txt"
ph restore "$files/nested/doc.txt" --version 1 --db "$db" >/dev/null; check "restore --version 1" 0 $?
expect "edition 1 holds the first content" same "$work/first" "$files/nested/doc.txt"
ph restore "$files/nested/doc.txt" --db "$db" --json >"$work/restore.json"; check "restore newest" 0 $?
expect "the newest holds the second content" same "$work/second" "$files/nested/doc.txt"
expect "restore --json says restored" [ "$(field "$work/restore.json" 'd["restored"]')" = True ]
ph restore "$files/nested/doc.txt" --version 9 --db "$db" >/dev/null 2>&1; check "restore of edition 9 of 2" 1 $?
if [ $windows = 0 ]; then  # options the other runs do not take, each seen in its effect
  ph restore "$files/nested/doc.txt" --version m1 --db "$db" >/dev/null 2>"$work/err"
  check "restore --version m1 without versions in memory" 1 $?
  expect "the refusal names memory version 1" grep -q "no version m1 of it is kept" "$work/err"
  ph versions "$files/nested/doc.txt" --db "$db" --log-level 5 --log-file "$work/own.log" >/dev/null
  check "--log-level 5 --log-file" 0 $?
  expect "--log-file takes the lines of level 5, not those of level 2" \
    eval 'grep -q "\] 5 " "$work/own.log" && ! grep -q "\] 2 " "$work/own.log"'
fi
printf 'x' >"$files/never.txt"
ph restore "$files/never.txt" --db "$db" --json >"$work/refused.json" 2>/dev/null
check "restore of a file without versions" 1 $?
expect "the refusal is one JSON document" [ "$(field "$work/refused.json" 'd["exitCode"]')" = 1 ]
ph restore --process 999999 --db "$db" >/dev/null 2>&1; check "restore of a process without versions" 1 $?

ph status --db "$db" --json >"$work/status.json"; check "status --json" 0 $?
expect "status counts one file with two editions" [ "$(field "$work/status.json" \
  '(d["database"]["files"], d["database"]["editions"], d["plugin"]["running"])')" = "(1, 2, True)" ]
ph policies --db "$db" --json >"$work/policies.json"; check "policies --json" 0 $?
expect "policies is a list" [ "$(field "$work/policies.json" 'type(d["policies"]).__name__')" = list ]
expect "Pellumhost.log holds the plug-in's lines" grep -q "Plugin ZEF Wrapper" "$db/Log/Pellumhost.log"

# Damage to the database, on a copy of it: a flipped byte in the newest edition's content, then
# a lost edition log. The damaged edition keeps its number and is never restored nor taken for
# "the newest"; check names it; repair rebuilds the log from the descriptors, deleting nothing.
hurt=$work/hurt
cp -r "$db" "$hurt"
newest=$(field "$work/versions.json" 'd["versions"][0]["number"]')
content=$(ls "$hurt/content" | while read -r c; do cmp -s "$hurt/content/$c" "$work/second" && echo "$c"; done)
printf 'X' | dd of="$hurt/content/$content" bs=1 conv=notrunc 2>/dev/null
ph check --db "$hurt" --json >"$work/check.json"; check "check of a damaged database" 12 $?
expect "check names the damaged edition" grep -q "edition $newest of .*doc.txt.* damaged" "$work/check.json"
ph versions "$files/nested/doc.txt" --db "$hurt" --json >"$work/hurt.json"
expect "the damaged edition is listed, marked, under its number" [ "$(field "$work/hurt.json" \
  '[(v["number"], v["fault"]) for v in d["versions"]]')" = "[('$newest', 'damaged'), ('1', '')]" ]
ph restore "$files/nested/doc.txt" --db "$hurt" >/dev/null 2>"$work/err"; check "restore of a damaged newest" 1 $?
expect "the refusal names the damage" grep -q "version, $newest .*damaged" "$work/err"
expect "nothing was restored" same "$work/second" "$files/nested/doc.txt"
rm "$hurt/editions.log"
ph versions "$files/nested/doc.txt" --db "$hurt" >/dev/null 2>"$work/err"; check "versions without an edition log" 12 $?
expect "the refusal says to repair" grep -q "run repair" "$work/err"
ph repair --db "$hurt" >/dev/null 2>&1; check "repair keeps the damaged edition marked" 12 $?
ph versions "$files/nested/doc.txt" --db "$hurt" --json >"$work/repaired.json"
expect "repair brings both editions back" [ "$(field "$work/repaired.json" 'len(d["versions"])')" = 2 ]

# The host killed while it backs up a big file: the completed edition stays, the next run
# opens the database again. (Linux: under Wine the runner, not the program, would be killed.)
if [ $windows = 0 ]; then
head -c $((32 << 20)) /dev/urandom >"$files/big.bin" 2>/dev/null
"${host[@]}" "${plugin[@]}" backup "$files/big.bin" --db "$db" >/dev/null 2>&1 &
victim=$!
staged() { compgen -G "$db/staging/b*" >/dev/null; }  # a backup's copy (not a file made ahead)
for _ in $(seq 300); do  # until the copy is on its way into the database
  staged && break
  sleep 0.01
done
if staged; then echo "note the kill came while the copy was staged"
else echo "note the kill came before or after the copy was staged"; fi
kill -KILL "$victim" 2>/dev/null
wait "$victim" 2>/dev/null
ph versions "$files/nested/doc.txt" --db "$db" --json >"$work/after-kill.json"
check "versions after the kill" 0 $?
expect "both editions kept after the kill" [ "$(field "$work/after-kill.json" 'len(d["versions"])')" = 2 ]
ph backup "$files/big.bin" --db "$db" >/dev/null; check "backup again after the kill" 0 $?
cp "$files/big.bin" "$work/big"
printf 'overwritten' >"$files/big.bin"
ph restore "$files/big.bin" --db "$db" >/dev/null; check "restore of the big file" 0 $?
expect "the big file is back" same "$work/big" "$files/big.bin"
fi

# A plug-in or engine that cannot be used: a folder of modules of its own.
mods=$work/modules
mkdir "$mods"
cp "$program" "$bin"/Quastle.* "$bin"/Morrick.* "$mods/"
if [ $windows = 1 ]; then
  cp "$bin/PlugEngineZefUnsignedOk.dll" "$mods/PlugEngineZef.dll"
else
  cp "$bin/PlugEngineZef.so" "$mods/"
fi
local_host=("${host[@]}")
local_host[-1]=$mods/$(basename "$program")
"${local_host[@]}" status --db "$db" >/dev/null 2>&1; check "engine missing" 8 $?
cp "$bin"/Zef.* "$mods/"
if [ $windows = 1 ]; then
  cp "$bin/PlugEngineZef.dll" "$mods/"  # the shipped plug-in trusts signed engines only
  "${local_host[@]}" status --db "$db" >/dev/null 2>&1; check "engine not signed" 9 $?
else
  chmod g+w "$mods"/Zef.*
  "${local_host[@]}" status --db "$db" >/dev/null 2>&1; check "engine writable by others" 9 $?
fi
mkdir "$work/pattern"
echo "not a pattern" >"$work/pattern/zef.ptn"
ph policies --db "$db" --set "PatternPath=$work/pattern" >/dev/null 2>&1; check "corrupt pattern" 10 $?
ph status --plugin "$work/none/PlugEngineZef.so" --db "$db" >/dev/null 2>&1; check "plug-in missing" 4 $?
ph run --watch "$work/nowhere" --db "$db" >/dev/null 2>&1; check "run on a missing folder" 7 $?
if [ $windows = 0 ]; then  # the same code under Wine, where every start costs seconds
  ph status --db "$db" --config "$work/none.conf" >/dev/null 2>&1; check "an unreadable --config" 7 $?
  ph stop --db "$work/nowhere" >/dev/null 2>&1; check "stop without a database folder" 7 $?
fi

# Service mode on every platform, stopped by `stop` from another process (no signal reaches a
# program under Wine): a configuration file with a trusted writer and a bad key, the demo's
# rogue writer (DemoRogue) scrambling one watched folder, the rogue flagged and rolled back.
# Before-write (Linux, as root) a trusted writer rewrites files in the other watched folder at
# the same time.
svc=$work/service
started=$SECONDS
mkdir -p "$svc/watched/deep" "$svc/own" "$svc/expect"
for i in 1 2 3 4 5 6; do
  f=$svc/watched/$i.txt; [ $i -gt 3 ] && f=$svc/watched/deep/$i.txt
  yes "original line of file $i" | head -c 4096 >"$f"
done
cp -r "$svc/watched" "$svc/originals"
cat >"$work/service.conf" <<'CONF'
# run's settings in this test
[engine]
PerProcessBackupQuota = 100000
FeedbackSwitch = 1
[detector]
MinFiles = 4
Trusted = perl
Bogus = 1
CONF
ph run --watch "$svc/watched" --watch "$svc/own" --db "$svc/db" --config "$work/service.conf" \
  >"$svc/run.out" 2>&1 &
service=$!
# Under Wine the runner prints a program's output only once it has ended: the host's log
# tells how far the service is.
log=$svc/db/Log
for _ in $(seq 1200); do grep -q "service running" "$log/Pellumhost.log" 2>/dev/null && break; sleep 0.1; done
expect "run is ready" grep -q "service running" "$log/Pellumhost.log"
trusted=
if grep -q "watching .*own (before-write)" "$log/Pellumhost.log"; then
  perl -e 'my ($dir, $expect) = @ARGV; open my $r, "<", "/dev/urandom" or die;
    for my $round (1 .. 8) { for my $i (1 .. 5) { read($r, my $b, 8192);
      for my $to ("$dir/trusted-$i.dat", "$expect/trusted-$i.dat") {
        open my $o, ">", $to or die; binmode $o; print $o $b; close $o; } }
      select(undef, undef, undef, 0.03); }' "$svc/own" "$svc/expect" &
  trusted=$!
fi
rogue=("${host[@]}")
rogue[-1]=$bin/DemoRogue${program##*Pellumhost}  # the demo's rogue writer, beside the host
"${rogue[@]}" "$svc/watched" >/dev/null 2>&1  # ended by the service once flagged, before-write
for _ in $(seq 600); do grep -q "rollback of" "$log/Pellumhost.log" && break; sleep 0.1; done
[ -n "$trusted" ] && wait "$trusted"
# The configuration file changed while the service runs: the one engine setting changed is
# sent to the plug-in, which applies it to the running engine; a change of no setting sends
# nothing.
sed 's/= 100000/= 200000/; s/MinFiles = 4/MinFiles = 5/' "$work/service.conf" >"$work/service.new"
mv "$work/service.new" "$work/service.conf"
for _ in $(seq 300); do grep -q "Per process backup quota = 0x30d40" "$log/Pellumhost.log" && break; sleep 0.1; done
expect "the changed setting alone is sent" grep -q "configuration: changed PerProcessBackupQuota; sending the change message" "$log/Pellumhost.log"
expect "the plug-in applies it" grep -q "Config: Per process backup quota = 0x30d40" "$log/Pellumhost.log"
expect "the detector takes its change" grep -q "read again; detector: 5 files within" "$log/Pellumhost.log"
echo "# a comment more" >>"$work/service.conf"
for _ in $(seq 300); do [ "$(grep -c "service.conf read again" "$log/Pellumhost.log")" -ge 2 ] && break; sleep 0.1; done
expect "a change of no setting sends nothing" [ "$(grep -c "configuration: changed" "$log/Pellumhost.log")" = 1 ]
ph stop --db "$svc/db" >"$svc/stop.out" 2>&1; check "stop" 0 $?
wait "$service"; check "run stops on a stop request" 0 $?
cat "$svc/run.out"
echo "note service mode took $((SECONDS - started)) s"
expect "run names its configuration file and its problem" grep -q "service.conf; 1 problem" "$svc/run.out"
expect "the rogue was rolled back" grep -q "steps done in" "$svc/run.out"
expect "nothing left registered" grep -q "0 event registrations and 0 protected folders left" "$svc/run.out"
expect "the stop request is taken away" [ ! -e "$svc/db/Pellumhost.stop" ]
for f in 1.txt 2.txt 3.txt deep/4.txt deep/5.txt deep/6.txt; do
  expect "$f is back" same "$svc/originals/$f" "$svc/watched/$f"
done
expect "the rogue was flagged" grep -q "process flagged as rogue" "$log/Pellumhost.log"
expect "each file's rollback is logged" grep -q "rollback of [0-9]*: restore .*txt from edition [0-9]* (.*), result 0x" "$log/Pellumhost.log"
expect "the detector has the trusted writer" grep -q "detector: 4 files within .* 1 trusted" "$log/Pellumhost.log"
expect "the bad key is logged with its line" grep -q "service.conf line 8: 'Bogus'" "$log/Pellumhost.log"
# Every restore of a rollback is by edition and sends restore feedback, one entry per file.
restored=$(grep -c "rollback of [0-9]*: restore .*, result 0x20FF0000" "$log/Pellumhost.log")
entries=$(grep -c "restore feedback (" "$log/feedback.log" 2>/dev/null)
expect "feedback.log holds one entry per file restored by edition (${restored:-0})" \
  [ "${entries:-0}" = "${restored:-0}" ]
if [ -n "$trusted" ]; then
  expect "the trusted writer was judged trusted" grep -q "(/usr/bin/perl) is trusted" "$log/Pellumhost.log"
  for i in 1 2 3 4 5; do
    expect "trusted-$i.dat as the trusted writer left it" same "$svc/expect/trusted-$i.dat" "$svc/own/trusted-$i.dat"
  done
fi

# A stop request reaches a service still taking its baseline: the baseline ends early and the
# service stops, with the files backed up so far kept.
base=$work/baseline
mkdir -p "$base/tree"
for i in $(seq 3000); do printf 'file %s\n' "$i" >"$base/tree/$i.txt"; done
ph run --watch "$base/tree" --source after-the-fact --db "$base/db" >"$base/run.out" 2>&1 &
service=$!
for _ in $(seq 600); do grep -q "(after-the-fact)" "$base/db/Log/Pellumhost.log" 2>/dev/null && break; sleep 0.05; done
# The request `stop` would leave, left at once (starting `stop` under Wine takes longer than
# a baseline of 3,000 files).
echo "stop requested by the test" >"$base/db/Pellumhost.stop"
wait "$service"; check "run stops during its baseline" 0 $?
expect "the baseline ended early" grep -q "the baseline of .*tree stopped after" "$base/db/Log/Pellumhost.log"

# Service mode before-write (fanotify: Linux, as root).
if [ $windows = 1 ] || [ "$(id -u)" != 0 ]; then
  echo "SKIP before-write service mode: it needs fanotify, Linux as root"
  exit $fail
fi
mkdir -p "$files/watched" "$work/originals"
for i in 1 2 3 4 5; do printf 'original %s\n' "$i" >"$files/watched/$i.txt"; done
cp "$files"/watched/*.txt "$work/originals/"
"${host[@]}" "${plugin[@]}" run --watch "$files" --db "$db" >"$work/run.out" 2>&1 &
service=$!
for _ in $(seq 100); do grep -q "stop with" "$work/run.out" && break; sleep 0.05; done
grep -q "watching $files (before-write)" "$work/run.out" ||
  { echo "FAIL run does not say what it watches: $(cat "$work/run.out")"; fail=1; }
expect "run writes the database's configuration file" grep -q \
  "configuration $db/Pellumhost.conf, written now with every key" "$work/run.out"
ph status --db "$db" >/dev/null 2>&1; check "a second instance on the database" 11 $?
# Another process rewrites five files.
sh -c 'echo $$ >"$1"; shift; for f; do printf "changed by another process\n" >"$f"; done' \
  sh "$work/writer" "$files"/watched/*.txt
sleep 0.3
kill -TERM "$service"
wait "$service"; check "run stops on SIGTERM" 0 $?
grep -q "0 event registrations and 0 protected folders left" "$work/run.out" ||
  { echo "FAIL run left something registered: $(cat "$work/run.out")"; fail=1; }
ph status --db "$db" --json >"$work/status-conf.json"
expect "status reads the configuration file run wrote" [ "$(field "$work/status-conf.json" \
  '(d["configuration"]["file"], d["configuration"]["problems"])')" = "('$db/Pellumhost.conf', 0)" ]
ph versions "$files/watched/3.txt" --db "$db" --json >"$work/watched.json"
# The baseline edition, then the writer's own version of the same bytes (sharing the content).
expect "the version taken before the write" [ "$(field "$work/watched.json" \
  '(len(d["versions"]), d["versions"][0]["size"], d["versions"][0]["writerImage"])')" = \
  "(2, $(wc -c <"$work/originals/3.txt"), '$(readlink -f /bin/sh)')" ]
# On a terminal (script gives one) the restore of five files draws its progress bar.
script -qec "$(printf '%q ' "${host[@]}" restore --process "$(cat "$work/writer")" --db "$db")" \
  /dev/null >"$work/process.out"
check "restore --process" 0 $?
expect "five files restored" grep -q "5 files restored, 0 failed" "$work/process.out"
expect "the progress bar reached 5/5" grep -q "restoring \[#*\] 5/5" "$work/process.out"
for i in 1 2 3 4 5; do
  expect "file $i is back" same "$work/originals/$i.txt" "$files/watched/$i.txt"
done
exit $fail
