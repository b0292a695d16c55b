#!/usr/bin/env bash
# End-to-end run of the Windows orvane.exe under Wine: scripts/test-windows.sh BUILD_FOLDER LINUX_BUILD_FOLDER
# The Linux build's orvane-publish publishes a small release, nginx serves it on a free loopback port, and
# orvane.exe mirrors it into a shared folder (/ENTS), then installs from there into a program folder (/ENTC), and
# the scheduled wizard (/SCHEDULED) installs it through its window into a third one.
# Ends with "N passed, M failed" and a non-zero status on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "${1:?usage: test-windows.sh BUILD_FOLDER LINUX_BUILD_FOLDER}" && pwd)/bin
linux=$(cd "${2:?usage: test-windows.sh BUILD_FOLDER LINUX_BUILD_FOLDER}" && pwd)/bin
# shellcheck source=lib/nginx.sh
source "$root/scripts/lib/nginx.sh"
# shellcheck source=lib/wine.sh
source "$root/scripts/lib/wine.sh"
# shellcheck source=lib/sign.sh
source "$root/scripts/lib/sign.sh"

work=$(mktemp -d)
cleanup() {
  stop_wine
  stop_nginx
  if [ "$failed" -eq 0 ]; then rm -rf "$work"; else echo "Files of the failed run kept in $work" >&2; fi
}
passed=0
failed=0
trap cleanup EXIT
trap 'exit 130' INT TERM
# On a real (Xvfb) screen: the scheduled wizard's window is drawn and leaves a picture of its last page.
use_wine_display "$win/.."

check() {  # check DESCRIPTION COMMAND...: one check, counted
  if "${@:2}"; then
    passed=$((passed + 1))
    echo "ok      $1"
  else
    failed=$((failed + 1))
    echo "FAILED  $1"
  fi
}

status_is() {  # status_is STATUS PROGRAM-FOLDER ARGS...: orvane.exe in the folder ends with the status
  local expected=$1 program=$2 status=0
  shift 2
  wine_run 120 "$program/orvane.exe" "$@" </dev/null >>"$work/wine.log" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || echo "        exit status $status, not $expected" >&2
  [ "$status" -eq "$expected" ]
}

same_files() {  # same_files FOLDER FILE=STORED...: each release file equals the one stored below the folder
  local pair ok=0
  for pair in "${@:2}"; do
    cmp -s "$work/release/${pair%%=*}" "$1/${pair#*=}" || { echo "        $1/${pair#*=} differs or is missing" >&2; ok=1; }
  done
  return "$ok"
}

catalogue_lists() {  # catalogue_lists STORED...: latest.xml downloads each file from its place in the shared folder
  local stored ok=0
  for stored in "$@"; do
    grep -qF "<download>$share\\$stored</download>" "$shared_folder/latest.xml" ||
      { echo "        latest.xml lacks the download $share\\$stored" >&2; ok=1; }
  done
  return "$ok"
}

window_picture_taken() {  # window_picture_taken PNG: a picture of the whole window, frame included, not all black
  local size colours
  [ -f "$1" ] || { echo "        no picture $1" >&2; return 1; }
  # pamfile reads the header alone, and the converter ends on the closed pipe.
  size=$(pngtopam "$1" 2>/dev/null | pamfile 2>/dev/null || true)
  colours=$(pngtopam "$1" 2>/dev/null | ppmhist -noheader 2>/dev/null | wc -l)
  [[ $size =~ ([0-9]+)\ by\ ([0-9]+) ]] && ((BASH_REMATCH[1] > 480 && BASH_REMATCH[2] > 314 && colours > 16)) ||
    { echo "        $1: $size, $colours colours" >&2; return 1; }
}

wine_server_runs() {  # wine_server_runs: a Wine server of this prefix is running
  local environ
  while read -r environ; do
    [[ $(cat "${environ%environ}comm" 2>/dev/null) == wineserver* ]] && return 0
  done < <(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null)
  return 1
}

wine_stops() {  # wine_stops: stop_wine ends a running Windows program and the prefix's Wine server
  local program stopped=0
  "$wine64" "$win/brellium.exe" </dev/null >/dev/null 2>&1 &  # runs until something ends it
  program=$!
  for _ in $(seq 100); do wine_server_runs && break; sleep 0.1; done
  stop_wine
  for _ in $(seq 100); do wine_server_runs || kill -0 "$program" 2>/dev/null || { stopped=1; break; }; sleep 0.1; done
  kill "$program" 2>/dev/null
  wait "$program" 2>/dev/null
  [ "$stopped" -eq 1 ] || echo "        the Wine server or the program still runs" >&2
  [ "$stopped" -eq 1 ]
}

# Any binutils of mingw-w64 reads both kinds of executable.
objdump=$(command -v i686-w64-mingw32-objdump || command -v x86_64-w64-mingw32-objdump)
# What every Windows since 7 has in its system folder; any other DLL would have to ship beside the program.
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll ws2_32.dll \
version.dll comctl32.dll comdlg32.dll uxtheme.dll shlwapi.dll msvcrt.dll "

imports_only_system_dlls() {  # imports_only_system_dlls EXE: the import table names Windows' own DLLs only
  local dlls dll ok=0
  dlls=$("$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
  [ -n "$dlls" ] || { echo "        no import table read from $1" >&2; return 1; }
  for dll in $dlls; do
    [[ $system_dlls == *" $dll "* ]] || { echo "        $(basename "$1") imports $dll" >&2; ok=1; }
  done
  return "$ok"
}

is_gui_program() {  # is_gui_program EXE: a program of the GUI subsystem, which opens no console window
  local headers
  headers=$("$objdump" -p "$1")
  [[ $headers =~ Subsystem[[:space:]]+0+2[[:space:]]+\(Windows\ GUI\) ]] ||
    { echo "        $1 is no GUI program" >&2; return 1; }
}

stop_line_reaches_pipe() {  # stop_line_reaches_pipe: a failed mirror run says why on a standard error that is a pipe
  local output status=0
  output=$(ORVANE_UPDATE_SERVER=127.0.0.1:1 ORVANE_DEMO_SERVER=127.0.0.1:1 wine_run 120 "$work/mirror/orvane.exe" \
    /ENTS "SFLD=$(windows_path "$work/unreached")" PRODUCT=Brellium VERSION=5.1 CODE=WINE 2>&1 >/dev/null </dev/null) ||
    status=$?
  # -60 as the whole 32-bit code, of which the shell sees the low byte.
  [[ $status -eq 196 && $output == *"Mirror run stopped with exit status -60"* ]] ||
    { echo "        exit status $status, standard error: $output" >&2; return 1; }
}

unreached_share_fails_clearly() {  # unreached_share_fails_clearly FOLDER MODE: a run on a share out of reach fails
  # naming it
  local output status=0 unc='\\nonexistent-host\Brellium Share\'
  output=$(wine_run 120 "$work/$1/orvane.exe" "$2" "SFLD=$unc" PRODUCT=Brellium VERSION=5.1 CODE=WINE \
    2>&1 >/dev/null </dev/null) || status=$?
  # What the share would have become on the current drive (Z:, the root of this machine) is not there.
  [[ $status -ne 0 && $output == *"$unc"* && ! -e "/nonexistent-host" ]] ||
    { echo "        exit status $status, standard error: $output" >&2; return 1; }
}

network_share_kept() {  # network_share_kept: a share given as \\localhost\unc-share\ (Wine's UNC folder leads to a
  # local folder) is mirrored into and named so in latest.xml; a client given it as \\?\UNC\... installs from it
  local folder=$work/unc-share unc='\\localhost\unc-share\'
  mkdir -p "$folder" "$WINEPREFIX/dosdevices/unc/localhost"
  ln -sfn "$folder" "$WINEPREFIX/dosdevices/unc/localhost/unc-share"
  program_folder unc-mirror
  program_folder unc-client
  status_is 0 "$work/unc-mirror" /ENTS "SFLD=$unc" PRODUCT=Brellium VERSION=5.1 CODE=WINE || return 1
  grep -qF "<download>${unc}records.db</download>" "$folder/latest.xml" ||
    { echo "        latest.xml does not name ${unc}records.db" >&2; return 1; }
  status_is 0 "$work/unc-client" /ENTC 'SFLD=\\?\UNC\localhost\unc-share\' &&
    same_files "$work/unc-client" records.db=records.db Tools/scanner.cmd=Tools/scanner.cmd
}

signed_program_verifies() {  # signed_program_verifies: orvane.exe signed with a throwaway certificate verifies, runs,
  # and a changed byte breaks its signature
  local folder=$work/signing status=0
  program_folder signing
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$folder/key.pem" -out "$folder/cert.pem" -days 1 \
    -subj "/CN=Orvane test signer" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 || return 1
  sign_windows_program "$folder/cert.pem" "$folder/key.pem" "$folder/orvane.exe" || return 1
  osslsigncode verify -CAfile "$folder/cert.pem" -in "$folder/orvane.exe" >"$folder/verify.log" 2>&1 ||
    { echo "        the signature does not verify:" >&2; sed 's/^/        /' "$folder/verify.log" >&2; return 1; }
  status_is 255 "$folder" /ENTS || return 1
  cp "$folder/orvane.exe" "$folder/changed.exe"
  printf 'X' | dd of="$folder/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  ! osslsigncode verify -CAfile "$folder/cert.pem" -in "$folder/changed.exe" >/dev/null 2>&1 ||
    { echo "        a changed program still verifies" >&2; return 1; }
}

shipped_stripped() {  # shipped_stripped EXE: no debug information inside, all of it in EXE.debug, which EXE names
  "$objdump" -h "$1" | grep -q '\.debug_' && { echo "        $1 holds debug sections" >&2; return 1; }
  "$objdump" -h "$1.debug" | grep -q '\.debug_info' ||
    { echo "        $1.debug holds no debug information" >&2; return 1; }
  grep -qF "$(basename "$1").debug" "$1" || { echo "        $1 names no debug file" >&2; return 1; }
}

fetched_in_last_run() {  # fetched_in_last_run FROM-LINE PATTERN: a request of nginx's log after FROM-LINE matches
  tail -n "+$(($1 + 1))" "$work/nginx/access.log" | grep -qE "\"GET $2 HTTP/[0-9.]+\" 200 "
}

difference_used() {  # difference_used: a second release changes 1% of big.db; the mirror fetches its difference,
  # not its package, and the shared copy is the new file
  local before
  head -c 2560 /dev/urandom | dd of="$work/release/big.db" bs=1 seek=100000 conv=notrunc 2>/dev/null
  publish_release || return 1
  grep -rq --include=index.html '<delta>' "$work/www" || { echo "        the catalogue offers no difference" >&2; return 1; }
  before=$(wc -l <"$work/nginx/access.log")
  status_is 0 "$work/mirror" /ENTS "SFLD=$share" PRODUCT=Brellium VERSION=5.1 CODE=WINE || return 1
  same_files "$shared_folder" big.db=big.db || return 1
  fetched_in_last_run "$before" '/deltas/[a-z]+/big\.db\.[0-9a-f.]+\.zst' ||
    { echo "        the difference of big.db was not fetched" >&2; return 1; }
  ! fetched_in_last_run "$before" '/packages/[a-z]+/big\.db[^ ]*' ||
    { echo "        the package of big.db was fetched" >&2; return 1; }
}

publish_release() {  # publish_release: the release folder into the web root, with differences from the last one
  "$linux/orvane-publish" --source "$work/release" --target "$work/www" --base-url "http://$server/" \
    --product Brellium --version 5.1 --code WINE --plain 'Tools/*' >/dev/null
}

program_folder() {  # program_folder NAME: orvane.exe and its language files, as a program folder of their own
  mkdir -p "$work/$1"
  cp "$win/orvane.exe" "$work/$1/"
  cp -r "$win/OvLng" "$work/$1/"
}

# The shared folder's Cyrillic name reaches orvane.exe only through its wide-character command line.
shared_folder="$work/общий"
mkdir -p "$work"/{release/Tools,release/Custom} "$shared_folder" "$win/../screenshots"
for i in $(seq 1 300); do printf 'record %d: signature %08x\n' "$i" $((i * 2654435761 % 4294967296)); done \
  >"$work/release/records.db"
printf 'engine rules\n' >"$work/release/engine.db"
# Large enough for the publisher to offer a difference when it changes.
head -c 262144 /dev/urandom >"$work/release/big.db"
printf '@echo scanner: nothing found\r\n' >"$work/release/Tools/scanner.cmd"
printf 'Brellium settings\n' >"$work/release/Custom/settings.txt"
cp "$win/brellium.exe" "$work/release/"

start_nginx "$work/nginx" "$work/www"
# Both of the program's server host names point at this nginx; Wine hands the environment to the program.
export ORVANE_UPDATE_SERVER="$server" ORVANE_DEMO_SERVER="$server"
publish_release
program_folder mirror
program_folder client
program_folder wizard
# An installed product: the main program that the wizard closes with /U and starts with /H, and its Tools folder,
# which the wizard does not make.
cp "$win/brellium.exe" "$work/wizard/"
mkdir -p "$work/wizard/Tools"
share=$(windows_path "$shared_folder")

for exe in orvane.exe brellium.exe; do
  check "$exe imports only Windows' own DLLs" imports_only_system_dlls "$win/$exe"
done
check "orvane.exe is a GUI program" is_gui_program "$win/orvane.exe"
check "orvane.exe ships stripped, its debug information beside it" shipped_stripped "$win/orvane.exe"
check "orvane.exe signed with a throwaway certificate verifies and runs" signed_program_verifies
check "/ENTS on a network share out of reach fails naming it and writes nothing locally" \
  unreached_share_fails_clearly mirror /ENTS
check "/ENTC on a network share out of reach fails naming it" unreached_share_fails_clearly client /ENTC
check "/ENTS without a shared folder exits 255" status_is 255 "$work/mirror" /ENTS
check "a stopped mirror run says why on standard error" stop_line_reaches_pipe
check "/ENTS mirrors the release and exits 0" \
  status_is 0 "$work/mirror" /ENTS "SFLD=$share" PRODUCT=Brellium VERSION=5.1 CODE=WINE
check "latest.xml lists every file in the shared folder" \
  catalogue_lists records.db engine.db 'Tools\scanner.cmd' settings.txt brellium.exe
check "the shared folder holds every file as published" same_files "$shared_folder" records.db=records.db \
  engine.db=engine.db Tools/scanner.cmd=Tools/scanner.cmd Custom/settings.txt=settings.txt brellium.exe=brellium.exe
check "/ENTC installs from the shared folder and exits 0" status_is 0 "$work/client" /ENTC "SFLD=$share"
check "a network share keeps its path in every mode and in latest.xml" network_share_kept
check "the program folder holds every file as published" same_files "$work/client" records.db=records.db \
  engine.db=engine.db Tools/scanner.cmd=Tools/scanner.cmd Custom/settings.txt=settings.txt brellium.exe=brellium.exe
BRELLIUM_LOG=$(windows_path "$work/brellium.log") ORVANE_SCREENSHOT=$(windows_path "$win/../screenshots/scheduled.png") \
  check "/SCHEDULED runs the wizard in its window to the end and exits 0" \
  status_is 0 "$work/wizard" /SCHEDULED PRODUCT=Brellium VERSION=5.1 CODE=WINE
check "the scheduled wizard left a picture of its window as it closed" window_picture_taken \
  "$win/../screenshots/scheduled.png"
check "the scheduled wizard closed the main program with /U and started it again with /H" \
  grep -qz $'^/U\n/H\n$' "$work/brellium.log"
check "the scheduled wizard installed every file as published" same_files "$work/wizard" records.db=records.db \
  engine.db=engine.db Tools/scanner.cmd=Tools/scanner.cmd Custom/settings.txt=settings.txt brellium.exe=brellium.exe
check "the mirror rebuilds a changed database from its difference instead of fetching its package" difference_used
check "stop_wine ends the prefix's Wine server" wine_stops

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
