#!/usr/bin/env bash
# The whole path as a user feels it: the same work on a tree of small source files, unwatched
# and then watched by `Pellumhost run` (before-write, so as root), in one run on one machine.
#   append   each file appended one line, each by its own shell redirection (an open per file)
#   rewrite  each file rewritten in place by one python3 process
#   stop     `Pellumhost stop` after that work, until the service has stopped
#   copy     the limit: each file's bytes copied once into a new file by one process (cp -r,
#            no block sharing), the least that taking a version of every file can cost
# Also: the lines Pellumhost.log gained, how long opens were held (p50, p99, as `run` reports
# them), and the database's size against the unique bytes it holds (every distinct content
# once, stored or still staged). Prints one line per figure and writes them as JSON to $1
# (default: bench-watch.json).
# Usage: sudo scripts/bench-watch.sh [out.json] [files]   (build/linux must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-bench-watch.json}
count=${2:-2000}
host=$PWD/build/linux/bin/Pellumhost
[[ -x $host ]] || { echo "bench-watch: build the linux preset first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "bench-watch: before-write watching needs root" >&2; exit 2; }

work=$(mktemp -d /var/tmp/bench-watch.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The tree: the first regular files of /usr/include, a real source tree's sizes.
make_tree() {
  mkdir -p "$1"
  find /usr/include -type f -size -64k | sort >"$work/all-files"
  head -n "$count" "$work/all-files" | while read -r f; do
    rel=${f#/usr/include/}
    mkdir -p "$1/$(dirname "$rel")"
    cp "$f" "$1/$rel"
  done
}
seconds() { python3 -c 'import time; print(time.monotonic())'; }
elapsed() { python3 -c "print(round($2 - $1, 4))"; }
append_all() {
  local list
  mapfile -t list < <(find "$1" -type f)
  for f in "${list[@]}"; do echo "// appended" >>"$f"; done
}
stop_service() {  # until the service has ended, however `stop` answers
  "$host" stop --db "$db" >/dev/null 2>&1 || echo "bench-watch: stop did not see the service end within its 30 s" >&2
  wait "$service" || true
}
rewrite_all() {
  python3 - "$1" <<'EOF'
import os, sys
for root, _, names in os.walk(sys.argv[1]):
    for name in names:
        path = os.path.join(root, name)
        with open(path, "r+b") as f:
            data = f.read()
            f.seek(0)
            f.write(data.replace(b"#", b"#", 1))
EOF
}
copy_all() {  # copy_all FROM TO: every file's bytes once into a new file under TO, one process
  cp -r --reflink=never "$1" "$2"
}
timed() {  # timed NAME COMMAND... : prints and records the seconds COMMAND took
  local name=$1; shift
  sync
  local start end
  start=$(seconds); "$@"; end=$(seconds)
  figures[$name]=$(elapsed "$start" "$end")
  printf '%-26s %8.3f s\n' "$name" "${figures[$name]}"
}
declare -A figures

make_tree "$work/plain"
cp -a "$work/plain" "$work/watched"
# What creating a file costs on this file system now: on ext4 without a journal it grows with
# the files deleted in the last minutes (each new inode is looked for past them), and both the
# limit and the watched runs pay it. The probe's files are kept until the end.
create_us=$(python3 - "$work/probe" <<'EOF'
import os, sys, time
os.mkdir(sys.argv[1])
start = time.monotonic()
for i in range(500):
    os.close(os.open(os.path.join(sys.argv[1], "p%d" % i), os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o600))
print(round((time.monotonic() - start) / 500 * 1e6, 1))
EOF
)
files=$(find "$work/plain" -type f | wc -l)
bytes=$(du -sb "$work/plain" | cut -f1)
echo "tree: $files files, $bytes bytes (from /usr/include); creating an empty file: $create_us us"

timed append_unwatched append_all "$work/plain"
timed rewrite_unwatched rewrite_all "$work/plain"
timed copy copy_all "$work/plain" "$work/copies"

db=$work/db
"$host" run --watch "$work/watched" --source before-write --db "$db" >"$work/run.out" 2>&1 &
service=$!
for _ in $(seq 1 200); do grep -q "^database " "$work/run.out" && break; sleep 0.1; done
grep -q "before-write" "$work/run.out" || { cat "$work/run.out"; echo "bench-watch: not watching before-write" >&2; exit 1; }
log_before=$(wc -l <"$db/Log/Pellumhost.log")
timed append_watched append_all "$work/watched"
timed rewrite_watched rewrite_all "$work/watched"
timed stop stop_service
log_lines=$(( $(wc -l <"$db/Log/Pellumhost.log") - log_before ))
db_bytes=$(du -sb --exclude=Log "$db" | cut -f1)
# The unique content the database keeps: every distinct content once, stored or staged.
unique=$(python3 - "$db" <<'EOF'
import hashlib, os, sys
sizes = {}
for folder in ("content", "staging"):
    top = os.path.join(sys.argv[1], folder)
    for name in os.listdir(top) if os.path.isdir(top) else []:
        with open(os.path.join(top, name), "rb") as f:
            data = f.read()
        sizes[hashlib.sha1(data).digest()] = len(data)
print(sum(sizes.values()))
EOF
)
held=$(sed -n 's/.*opens held for a version: [0-9]*, p50 \([0-9]*\) us, p99 \([0-9]*\) us.*/\1 \2/p' "$work/run.out")
hold50=${held% *}
hold99=${held#* }
echo "Pellumhost.log lines for $((2 * files)) writes: $log_lines"
echo "database: $db_bytes bytes for $unique bytes of unique content"
if [[ -n $held ]]; then echo "opens held for a version: p50 $hold50 us, p99 $hold99 us"; fi

python3 - "$out" <<EOF
import json, sys
f = {}
for line in """$(for k in "${!figures[@]}"; do echo "$k=${figures[$k]}"; done)""".split():
    k, v = line.split("=")
    f[k] = float(v)
f.update(files=$files, tree_bytes=$bytes, log_lines=$log_lines, db_bytes=$db_bytes, create_us=$create_us,
         content_bytes=$unique, open_hold_p50_us=${hold50:-None}, open_hold_p99_us=${hold99:-None})
json.dump(f, open(sys.argv[1], "w"), indent=1)
print("append  %.1fx, rewrite %.1fx (watched over unwatched); the copy limit adds %.3f s" % (
    f["append_watched"] / f["append_unwatched"], f["rewrite_watched"] / f["rewrite_unwatched"],
    f["copy"]))
EOF
echo "wrote $out"
