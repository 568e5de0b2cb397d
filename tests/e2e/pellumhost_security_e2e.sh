#!/usr/bin/env bash
# What Pellumhost, a service that runs as root in users' folders, refuses to be turned into:
# one row per attack with its expected answer. Rows that need root (another user's files, the
# database guard) skip with a message otherwise; rows that need a link the platform shows as
# one skip under Wine.
# Usage: pellumhost_security_e2e.sh HOST [HOST-ARGS...] (Windows: the Wine runner, then the .exe)
set -uo pipefail
host=("$@")
program=${host[-1]}
bin=$(dirname "$program")
suffix=${program##*Pellumhost}  # .exe, or nothing
windows=0
plugin=()
if [[ $program == *.exe ]]; then
  windows=1
  plugin=(--plugin "$bin/PlugEngineZefUnsignedOk.dll")  # test engines are not signed
fi
root=0
[ "$(id -u)" = 0 ] && [ $windows = 0 ] && root=1
work=$(mktemp -d)
chmod 755 "$work"  # another user reaches what a row lets them reach, and nothing else
trap 'rm -rf "$work"' EXIT
fail=0

ph() { "${host[@]}" "${plugin[@]}" "$@"; }
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
ready() {  # ready LOG: waits until the service in LOG's database runs
  for _ in $(seq 600); do grep -q "service running" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# A restore's temporary is created new under a random name: links planted under the names a
# restore would once have used (its process id, which the next few hundred cover, and a
# counter) and under the present form are neither followed nor touched, and the target is a
# file again.
planted_temporaries() {
  local t=$work/planted db=$work/planted/db
  mkdir -p "$t/tree" "$t/outside"
  printf 'victim\n' >"$t/outside/victim"
  printf 'kept\n' >"$t/tree/f.txt"
  ph backup "$t/tree/f.txt" --db "$db" >/dev/null 2>&1 || return 1
  printf 'changed\n' >"$t/tree/f.txt"
  local next planted=0
  next=$(cat /proc/sys/kernel/ns_last_pid 2>/dev/null || echo 0)
  for pid in $(seq "$((next + 1))" "$((next + 300))"); do
    ln -s "$t/outside/victim" "$t/tree/~zef$pid-1.tmp"
    ln -s "$t/outside/victim" "$t/tree/~zef-$(printf %016x "$pid").tmp"
    planted=$((planted + 2))
  done
  ph restore "$t/tree/f.txt" --db "$db" >/dev/null 2>&1 || return 1
  [ "$(cat "$t/tree/f.txt")" = kept ] && [ ! -L "$t/tree/f.txt" ] &&
    [ "$(cat "$t/outside/victim")" = victim ] &&
    [ "$(find "$t/tree" -maxdepth 1 -type l | wc -l)" = $planted ]
}

# A link where a folder of the target's path was: the restore fails, writes nothing where the
# link points, and the engine's log says why.
linked_parent() {
  local t=$work/parent db=$work/parent/db
  mkdir -p "$t/tree/sub" "$t/elsewhere"
  printf 'mine\n' >"$t/tree/sub/f"
  ph backup "$t/tree/sub/f" --db "$db" >/dev/null 2>&1 || return 1
  mv "$t/tree/sub" "$t/tree/sub.moved"
  ln -s "$t/elsewhere" "$t/tree/sub"
  ph restore "$t/tree/sub/f" --db "$db" >/dev/null 2>&1
  [ $? = 1 ] && [ -z "$(ls -A "$t/elsewhere")" ] &&
    grep -q "a link stands where a folder of the target's path should be" "$db/Log/ZefEngine.log"
}

# The after-the-fact baseline of a watched tree follows no link: neither a root-only file nor
# a folder that a link names reaches the database, and the log names each link skipped.
watched_links() {
  local t=$work/watched db=$work/watched/db
  mkdir -p "$t/tree/real" "$t/secret"
  printf 'root only secret\n' >"$t/secret/key"
  chmod 600 "$t/secret/key"
  printf 'plain\n' >"$t/tree/real/plain.txt"
  ln -s "$t/secret/key" "$t/tree/key-link"
  ln -s "$t/secret" "$t/tree/folder-link"
  ph run --watch "$t/tree" --source after-the-fact --db "$db" >"$t/run.out" 2>&1 &
  local service=$!
  ready "$db/Log/Pellumhost.log"
  ph stop --db "$db" >/dev/null 2>&1
  wait "$service"
  grep -q "key-link is not backed up: it is a link" "$db/Log/Pellumhost.log" &&
    ! grep -rq "root only secret" "$db" &&
    ph versions "$t/tree/real/plain.txt" --db "$db" >/dev/null 2>&1
}

# The database is its user's alone from its creation: nothing in it that group or others may
# read, and another user can list or read none of it.
private_database() {
  local db=$work/planted/db
  local file
  file=$(find "$db" -type f ! -path "$db/Log/*" | head -1)
  [ -n "$file" ] && [ -z "$(find "$db" -perm /077)" ] && ! nobody ls "$db" >/dev/null 2>&1 &&
    ! nobody cat "$file" >/dev/null 2>&1
}

# A restore puts back the owner and the mode, not root's: another user's 0600 file stays theirs.
restored_ownership() {
  local t=$work/owned db=$work/owned/db
  mkdir -p "$t"
  printf 'theirs\n' >"$t/f"
  chown 65534:65534 "$t/f"
  chmod 600 "$t/f"
  ph backup "$t/f" --db "$db" >/dev/null 2>&1 || return 1
  printf 'changed\n' >"$t/f"
  ph restore "$t/f" --db "$db" >/dev/null 2>&1 || return 1
  [ "$(cat "$t/f")" = theirs ] && [ "$(stat -c '%u:%g %a' "$t/f")" = "65534:65534 600" ]
}

# While `run` protects the database, other processes (root's too) open nothing in it but the
# files the host keeps there for them (its logs, the stop request).
guarded_database() {
  local t=$work/guarded db=$work/guarded/db
  mkdir -p "$t/watched"
  printf 'x\n' >"$t/watched/f"
  ph backup "$t/watched/f" --db "$db" >/dev/null 2>&1 || return 1
  local stored
  stored=$(find "$db" -type f ! -path "$db/Log/*" ! -name Pellumhost.conf | head -1)
  ph run --watch "$t/watched" --db "$db" >"$t/run.out" 2>&1 &
  local service=$!
  ready "$db/Log/Pellumhost.log"
  local read=0 wrote=0 log=1
  cat "$stored" >/dev/null 2>&1 && read=1
  sh -c 'printf tampered >>"$1"' sh "$stored" 2>/dev/null && wrote=1
  cat "$db/Log/Pellumhost.log" >/dev/null 2>&1 || log=0
  ph stop --db "$db" >/dev/null 2>&1
  wait "$service"
  [ $read = 0 ] && [ $wrote = 0 ] && [ $log = 1 ] && cat "$stored" >/dev/null &&
    grep -q "refused an open of $stored" "$db/Log/Pellumhost.log"
}

# Every module the host loads must pass the engine's rule: one that others may write, or in a
# folder others may write, is refused with exit 9 and a line naming it and the reason.
untrusted_module() {  # untrusted_module MODULE|folder
  local m=$work/modules-$1
  mkdir -p "$m"
  cp "$program" "$bin"/Morrick.so "$bin"/Quastle.so "$bin"/PlugEngineZef.so "$bin"/Zef.so "$m/"
  if [ "$1" = folder ]; then chmod o+w "$m"; else chmod o+w "$m/$1"; fi
  "$m/Pellumhost" status --db "$m/db" >"$m/out" 2>&1
  [ $? = 9 ] || return 1
  if [ "$1" = folder ]; then grep -q "$m/Morrick.so is not trusted: it lies in a folder" "$m/out"
  else grep -q "$m/$1 is not trusted: it is writable by others" "$m/out"; fi
}

# Morrick and Quastle are checked before the loader maps them: a replaced Morrick.so that
# others may write is refused with exit 9, and neither its constructor nor its IFUNC resolver
# (which relocation runs, before any check a program linked with it could make) ever runs.
# Once no one else may write it, the same library is loaded: its markers appear and the
# missing export is named, so the markers prove something.
hostile_library_never_runs() {
  local m=$work/hostile
  mkdir -p "$m"
  cp "$program" "$bin"/Quastle.so "$bin"/PlugEngineZef.so "$bin"/Zef.so "$m/"
  cat >"$m/hostile.c" <<EOF
/* A system call of its own: a resolver runs before the library's calls into libc are bound. */
static void mark(const char* path) {
  long fd;
  __asm__ volatile("syscall" : "=a"(fd) : "a"(2L), "D"(path), "S"(0101L), "d"(0600L)
                   : "rcx", "r11", "memory"); /* open(path, O_WRONLY | O_CREAT, 0600) */
}
static void harmless(void) {}
static void (*resolve(void))(void) { mark("$m/resolver-ran"); return harmless; }
void VELK_Msg_CreateDataHandle(void) __attribute__((ifunc("resolve")));
void (*const velk_taken)(void) = VELK_Msg_CreateDataHandle;
__attribute__((constructor)) static void start(void) { mark("$m/constructor-ran"); }
EOF
  cc -shared -fPIC -o "$m/Morrick.so" "$m/hostile.c" || return 1
  chmod o+w "$m/Morrick.so"
  "$m/Pellumhost" status --db "$m/db" >"$m/out" 2>&1
  [ $? = 9 ] && grep -q "$m/Morrick.so is not trusted: it is writable by others" "$m/out" &&
    [ ! -e "$m/resolver-ran" ] && [ ! -e "$m/constructor-ran" ] || return 1
  chmod o-w "$m/Morrick.so"
  "$m/Pellumhost" status --db "$m/db" >"$m/out" 2>&1
  [ $? = 4 ] && grep -q "lack VELK_Msg_ShareDataHandle" "$m/out" &&
    [ -e "$m/resolver-ran" ] && [ -e "$m/constructor-ran" ]
}

# --help lists every command the host has: no other word the program holds is taken as one.
no_hidden_commands() {
  local listed words=0
  listed=$(ph --help | tr -d '\r' | sed -n '/^Commands:/,/^The default/p' | awk '/^  [a-z]/ {print $1}')
  [ -n "$listed" ] || return 1
  local candidates=(rogue)
  [ $windows = 0 ] && mapfile -t candidates < <(strings -n 3 "$program" | grep -xE '[a-z][a-z-]{2,15}' | sort -u)
  for word in "${candidates[@]}"; do
    grep -qx "$word" <<<"$listed" && continue
    words=$((words + 1))
    ph "$word" >"$work/word.out" 2>&1
    local status=$?
    if [ $status != 2 ] || ! grep -q "unknown command '$word'" "$work/word.out"; then
      echo "  '$word' is taken as a command (exit $status)"
      return 1
    fi
  done
  echo "  $words words of the program refused as commands"
}

row() {  # row NAME NEEDS FUNCTION [ARGS]: NEEDS is any, root, links (not under Wine), linux or cc (Linux x86-64 with a C compiler)
  local name=$1 needs=$2
  shift 2
  if [ "$needs" = root ] && [ $root = 0 ]; then
    echo "SKIP $name: needs root on Linux (another user's files, fanotify)"
  elif [ "$needs" = links ] && [ $windows = 1 ]; then
    echo "SKIP $name: Wine shows a Unix link as the file it names, and makes no reparse point"
  elif [ "$needs" = cc ] && { [ $windows = 1 ] || [ "$(uname -m)" != x86_64 ] || ! command -v cc >/dev/null; }; then
    echo "SKIP $name: needs Linux x86-64 and a C compiler (cc) to build the replaced library"
  elif [ "$needs" = linux ] && [ $windows = 1 ]; then
    echo "SKIP $name: on Windows the rule is the signature, and this host takes unsigned modules"
  elif "$@"; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    fail=1
  fi
}

row "links planted under restore temporaries' names are not followed" any planted_temporaries
row "a restore through a linked parent folder is refused" links linked_parent
row "the baseline follows no link in a watched tree" links watched_links
row "the database is private: another user reads none of it" root private_database
row "a restore gives back the file's owner and mode" root restored_ownership
row "while run protects, other processes cannot open the database" root guarded_database
for module in Morrick.so Quastle.so PlugEngineZef.so folder; do
  row "a module writable by others is refused ($module)" linux untrusted_module "$module"
done
row "a replaced library that others may write never runs (Morrick.so)" cc hostile_library_never_runs
row "no command but those --help lists" any no_hidden_commands
exit $fail
