# Sourced by the scripts that run the Windows build under Wine: use_wine FOLDER sets up a private Wine prefix in
# FOLDER/wineprefix (made on first use), quiet and without a display; wine_run SECONDS PROGRAM ARGS... runs one
# Windows program with a time limit; stop_wine stops the prefix's wineserver, and everything still running in it.
wine64=/usr/lib/wine/wine64

use_wine() {
  export WINEPREFIX="$1/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX ..."
    timeout 300 "$wine64" wineboot -u >/dev/null 2>&1 || true
    timeout 60 wineserver -w || true
  fi
}

wine_run() {
  local seconds=$1
  shift
  timeout "$seconds" "$wine64" "$@"
}

stop_wine() {
  [ -z "${WINEPREFIX:-}" ] || timeout 30 wineserver -k 2>/dev/null || true
}

windows_path() {  # windows_path UNIX-PATH: the same file as Wine's Z: drive names it
  printf 'Z:%s' "${1//\//\\}"
}
