#!/usr/bin/env bash
# Fails if the program is linked with Morrick or Quastle (the loader would map them, and run
# their code, before the program could check them) or exports the functions it forwards to
# them (the plug-in would bind to those instead of the libraries).
# Usage: check_host_libraries_unlinked.sh PROGRAM
set -euo pipefail
program=$1
if [[ $program == *.exe ]]; then
  needed=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p')
  exported=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n '/Ordinal\/Name Pointer/,/^$/p')
else
  needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
  exported=$(nm -D --defined-only "$program")
fi
[[ -n $needed ]] || { echo "$program: no needed libraries read"; exit 1; }
status=0
if grep -iE 'morrick|quastle' <<<"$needed"; then
  echo "$program is linked with the host library above"
  status=1
fi
if grep -E '(VELK_Msg_|Log_|Quastle_)' <<<"$exported"; then
  echo "$program exports the host library functions above"
  status=1
fi
[[ $status -ne 0 ]] || echo "$program needs only:" $needed
exit $status
