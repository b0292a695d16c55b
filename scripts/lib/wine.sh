# Sourced by the scripts that run the Windows build under Wine: use_wine FOLDER sets up a private Wine prefix in
# FOLDER/wineprefix (made on first use), quiet and without a display (windows are made, never shown);
# use_wine_display FOLDER sets up the same prefix with its windows drawn for real on a private Xvfb screen;
# wine_run SECONDS PROGRAM ARGS... runs one Windows program with a time limit; stop_wine stops the prefix's
# wineserver, everything still running in it, and the screen.
# The prefix is a 64-bit one, as on the 64-bit Windows most users have: 32-bit programs run there under WoW64
# with both registry views, so the product key's 32-bit view is tested for real, and a 64-bit build runs too.
# wine64 makes and tends it, and starts each program with the loader of the program's own bitness: for the
# shipped 32-bit program that is Wine's 32-bit half (Debian's wine32:i386), which must be installed.
wine64=/usr/lib/wine/wine64
if [ ! -x /usr/lib/wine/wine ]; then
  echo "wine.sh: 32-bit Wine (/usr/lib/wine/wine, Debian's wine32:i386) is missing; scripts/bootstrap.sh" \
    "installs it" >&2
  return 1
fi
# Debian keeps the Wine server beside wine64, not on PATH; without it every wait for, or stop of, the prefix's
# programs would silently do nothing.
wineserver=$(command -v wineserver || true)
for candidate in /usr/lib/wine/wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32; do
  [ -n "$wineserver" ] || [ ! -x "$candidate" ] || wineserver=$candidate
done
if [ -z "$wineserver" ]; then
  echo "wine.sh: no wineserver found (on PATH or in /usr/lib/wine)" >&2
  return 1
fi

use_wine() {
  export WINEPREFIX="$1/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  # A prefix made before 32-bit Wine was installed lacks the 32-bit system files: it is brought up to date.
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "Making the Wine prefix $WINEPREFIX ..."
    timeout 300 "$wine64" wineboot -u >/dev/null 2>&1 || true
    timeout 60 "$wineserver" -w || true
  fi
  # The null display driver lets programs make windows without a display; the stand-in main program is asked
  # to close through its window.
  use_graphics_driver null
}

use_graphics_driver() {  # use_graphics_driver null|x11: the prefix's display driver for the programs started next
  grep -q "\"Graphics\"=\"$1\"" "$WINEPREFIX/user.reg" 2>/dev/null && return 0
  # The running Wine server and desktop keep the driver they started with.
  timeout 30 "$wineserver" -k 2>/dev/null || true
  timeout 60 "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$1" /f >/dev/null 2>&1 || true
  # With no window manager on the screen, Wine draws the frames, captions and close boxes itself, as Windows does.
  timeout 60 "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  timeout 60 "$wineserver" -w || true
}

xvfb_pid=
use_wine_display() {
  use_wine "$1"
  local number
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$number")"
  rm -f "$number"
  [ "$DISPLAY" != ":" ] || { echo "wine.sh: Xvfb did not start" >&2; return 1; }
  use_graphics_driver x11
  # Wine draws the close box with the Marlett font, which Debian's fonts-wine has; the prefix does not find it
  # there by itself.
  cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

wine_run() {
  local seconds=$1
  shift
  timeout "$seconds" "$wine64" "$@"
}

stop_wine() {
  [ -z "${WINEPREFIX:-}" ] || timeout 30 "$wineserver" -k || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}

windows_path() {  # windows_path UNIX-PATH: the same file as Wine's Z: drive names it
  printf 'Z:%s' "${1//\//\\}"
}

# serve_windows_tests FOLDER: the nginx that the Windows build's HTTP tests share, since a Windows test process
# cannot start the Linux nginx itself; it keeps its files in FOLDER and is named to the tests through the
# environment. Needs scripts/lib/nginx.sh; stop it with stop_nginx.
serve_windows_tests() {
  rm -rf "$1/www"
  mkdir -p "$1/www"
  # shellcheck disable=SC2016 # an nginx variable, not a shell one
  start_nginx "$1" "$1/www" 'add_header X-Connection $connection always; location ~ /slow/ { limit_rate 64k; }'
  ORVANE_TEST_NGINX_FOLDER=$(windows_path "$1")
  export ORVANE_TEST_NGINX_PORT=${server##*:} ORVANE_TEST_NGINX_FOLDER
}
