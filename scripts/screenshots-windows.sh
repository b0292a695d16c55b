#!/usr/bin/env bash
# Screenshots of every page and box of the Windows wizard, in English and Russian, at 96 and 144 dots per inch, as
# Wine draws them on an Xvfb screen, and of the window laid out afresh for a monitor of another resolution:
# scripts/screenshots-windows.sh BUILD_FOLDER (a Windows build with its tests).
# The window tests walk the pages and ask for a picture at each (NAME.request holds the window's or box's place on
# the screen); this script takes it off the screen with xwd, cuts it out with netpbm and leaves
# BUILD_FOLDER/screenshots/DPI/NAME.png. The window stands off-centre in these runs: with no window manager, Wine
# leaves a box black when it lies wholly inside another window. Needs the test stage's nginx (scripts/lib/wine.sh,
# serve_windows_tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: screenshots-windows.sh BUILD_FOLDER}" && pwd)
# shellcheck source=lib/wine.sh
source "$root/scripts/lib/wine.sh"
shots="$build/screenshots"
rm -rf "$shots"
use_wine_display "$build"
trap 'set_screen_dpi 96; stop_wine' EXIT

set_screen_dpi() {  # set_screen_dpi DPI: the resolution Wine reports for the screen to the programs started next
  timeout 30 "$wineserver" -k 2>/dev/null || true
  timeout 60 "$wine64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || true
  timeout 60 "$wine64" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || true
  timeout 60 "$wineserver" -w || true
}

photograph() {  # photograph FOLDER NAME: the screen where FOLDER/NAME.request says the window is, as NAME.png
  local left top width height
  read -r left top width height <"$1/$2.request"
  xwd -root -silent | xwdtopnm 2>/dev/null |
    pnmcut -left "$left" -top "$top" -width "$width" -height "$height" | pnmtopng >"$1/$2.png.new" 2>/dev/null
  mv "$1/$2.png.new" "$1/$2.png"
  rm -f "$1/$2.request"
}

status=0
for dpi in 96 144; do
  folder="$shots/$dpi"
  mkdir -p "$folder"
  set_screen_dpi "$dpi"
  ORVANE_SCREENSHOT_REQUESTS=$(windows_path "$folder") wine_run 300 \
    "$build/tests/win32/win32_wizard_window_test.exe" \
    --gtest_filter='*OpensAsDesigned*:*WalksEveryPage*:*LaysItselfOutAfresh*' </dev/null >"$folder/test.log" 2>&1 &
  test=$!
  while kill -0 "$test" 2>/dev/null; do
    for request in "$folder"/*.request; do
      [ ! -e "$request" ] || photograph "$folder" "$(basename "$request" .request)"
    done
    sleep 0.05
  done
  wait "$test" || status=$?
  tail -n 3 "$folder/test.log"
  [ "$status" -eq 0 ] || { cat "$folder/test.log"; exit "$status"; }
done
echo "$(find "$shots" -name '*.png' | wc -l) screenshots in $shots"
