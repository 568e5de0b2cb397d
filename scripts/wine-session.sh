# Sourced by the scripts that run Windows programs: one Wine prefix inside the build folder
# and one persistent wineserver for the whole run, stopped when the script exits. Wine's
# helper processes are started here with their output sent to /dev/null, so that CTest never
# inherits them on its pipes and never waits for them.
wine_session_start() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot --init </dev/null >/dev/null 2>&1
  trap wine_session_stop EXIT
}

wine_session_stop() {
  [[ -n ${WINEPREFIX:-} ]] && wineserver -k </dev/null >/dev/null 2>&1 || true
}
