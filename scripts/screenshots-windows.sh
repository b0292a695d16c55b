#!/usr/bin/env bash
# Screenshots of every page of the Windows wizard, in English and Russian, as Wine draws
# them on an Xvfb screen: scripts/screenshots-windows.sh BUILD_FOLDER (a Windows build with its tests).
# The window test walks the pages and asks for a picture at each (NAME.request holds the window's place on the
# screen); this script takes it off the screen with xwd, cuts the window out with netpbm and leaves
# BUILD_FOLDER/screenshots/NAME.png. Needs the test stage's nginx (scripts/lib/wine.sh, serve_windows_tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: screenshots-windows.sh BUILD_FOLDER}" && pwd)
# shellcheck source=lib/wine.sh
source "$root/scripts/lib/wine.sh"
shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
use_wine_display "$build"
trap stop_wine EXIT

photograph() {  # photograph NAME: the screen where NAME.request says the window is, as NAME.png
  local left top width height
  read -r left top width height <"$shots/$1.request"
  xwd -root -silent | xwdtopnm 2>/dev/null |
    pnmcut -left "$left" -top "$top" -width "$width" -height "$height" | pnmtopng >"$shots/$1.png.new" 2>/dev/null
  mv "$shots/$1.png.new" "$shots/$1.png"
  rm -f "$shots/$1.request"
}

ORVANE_SCREENSHOT_REQUESTS=$(windows_path "$shots") wine_run 300 \
  "$build/tests/win32/win32_wizard_window_test.exe" --gtest_filter='*WalksEveryPage*' \
  </dev/null >"$shots/test.log" 2>&1 &
test=$!
while kill -0 "$test" 2>/dev/null; do
  for request in "$shots"/*.request; do
    [ ! -e "$request" ] || photograph "$(basename "$request" .request)"
  done
  sleep 0.05
done
status=0
wait "$test" || status=$?
tail -n 3 "$shots/test.log"
[ "$status" -eq 0 ] || { cat "$shots/test.log"; exit "$status"; }
echo "$(find "$shots" -name '*.png' | wc -l) screenshots in $shots"
