#!/usr/bin/env bash
# Fails if a Windows module imports a library that is neither the system's nor the host's: the
# modules carry their own C++ runtime, so no compiler runtime library may be needed beside them.
# Usage: check_imports.sh MODULE...
set -euo pipefail
# The system's libraries, and the host's log and message libraries.
allowed='^(kernel32|advapi32|shell32|wintrust|user32|ole32|oleaut32|crypt32|bcrypt|ntdll|msvcrt|ucrtbase|ws2_32|shlwapi|version|api-ms-win-[a-z0-9-]+|quastle|morrick)\.dll$'
status=0
for module in "$@"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$module" | sed -n 's/^\s*DLL Name: //p')
  [[ -n $imports ]] || { echo "$module: no import table read"; status=1; continue; }
  while read -r library; do
    if ! grep -qiE "$allowed" <<<"$library"; then
      echo "$module imports $library, which is neither the system's nor the host's"
      status=1
    fi
  done <<<"$imports"
  [[ $status -ne 0 ]] || echo "$module imports only:" $imports
done
exit $status
