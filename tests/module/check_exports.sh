#!/usr/bin/env bash
# Fails unless the module exports exactly the plug-in's ten functions.
# Usage: check_exports.sh nm|objdump MODULE
set -euo pipefail
lister=$1
module=$2
case $lister in
  nm) exports=$(nm -D --defined-only "$module" | awk '{print $3}') ;;
  objdump)
    exports=$(x86_64-w64-mingw32-objdump -p "$module" |
              sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p') ;;
  *) echo "unknown lister $lister" >&2; exit 2 ;;
esac
expected="Plugin_Interface_CallFunc
Plugin_Interface_GetModuleID
Plugin_Interface_GetModuleVersion
Plugin_Interface_Initialize
Plugin_Interface_OnNotify
Plugin_Interface_PostInitialize
Plugin_Interface_PreUninitialize
Plugin_Interface_QueryInterface
Plugin_Interface_Release
Plugin_Interface_Uninitialize"
actual=$(sort <<<"$exports" | sed '/^$/d')
if [[ $actual != "$expected" ]]; then
  echo "exports of $module differ from the ten plug-in functions:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$module exports exactly the ten plug-in functions"
