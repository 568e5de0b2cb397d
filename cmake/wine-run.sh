#!/usr/bin/env bash
# Runs one Windows program under Wine with the prefix of the build folder it lies in.
# The test script starts one persistent wineserver for the whole run before CTest.
set -euo pipefail
program=$1
dir=$(cd "$(dirname "$program")" && pwd)
build=${dir%/bin}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
