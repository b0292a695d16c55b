#!/usr/bin/env bash
# The demo: builds Orvane, publishes a sample release with orvane-publish, serves it with nginx on a free
# loopback port, and updates from it three ways: the mirror mode into a shared folder, the shared-folder client
# mode into a program folder, and the scheduled wizard into a second program folder. Then it publishes a second
# release (two files changed, one of them an 8 MB database with 1% of its records rewritten, one removed) and shows
# the next mirror and client runs moving only those, and the bytes the mirror fetched against what the full
# packages cost. Every
# release is signed and every program folder trusts its key; a third release has one package forged on the
# shared folder (same size and CRC-32), which the client refuses.
# With --windows it then cross-builds the Windows program and runs its three modes under Wine on an Xvfb screen
# (scripts/test-windows.sh), which leaves a screenshot of the Windows wizard.
# Everything it makes lives in demo-work/ of the repository; everything it starts is stopped when it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=0
[ "${1:-}" != --windows ] || windows=1
bin="$root/build/bin"
work="$root/demo-work"

bash "$root/scripts/bootstrap.sh"
echo "Building in $root/build ..."
bash "$root/scripts/build.sh" build >/dev/null

product=(PRODUCT=Brellium VERSION=5.1 CODE=DEMO)
# shellcheck source=lib/nginx.sh
source "$root/scripts/lib/nginx.sh"
summary=()

cleanup() {
  # The wizard starts the main program again in the background after installing; "/U" closes it.
  local folder
  for folder in "$work/wizard" "$work/client"; do
    if [ -x "$folder/brellium.exe" ]; then "$folder/brellium.exe" /U >/dev/null 2>&1 || true; fi
  done
  stop_nginx
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$work"
mkdir -p "$work"/{release/Tools,release/Custom,nginx,share,tmp,keys}
# The program's temporary files stay in the work folder, and no registry file gives it a proxy.
export TMPDIR="$work/tmp" ORVANE_HKLM="$work/no-registry.reg"

program_folder() {  # program_folder NAME: orvane, its language files, help page and the release key, as a program
  # folder of their own that accepts only releases signed with that key
  mkdir -p "$work/$1/OvKeys"
  cp "$bin/orvane" "$bin/orvane-wizard" "$work/$1/"
  cp -r "$bin/OvLng" "$bin/Help" "$work/$1/"
  cp "$work/keys/release.pub" "$work/$1/OvKeys/"
}

make_release() {
  local r="$work/release" i
  for i in $(seq 1 300); do printf 'record %d: signature %08x\n' "$i" $((i * 2654435761 % 4294967296)); done \
    >"$r/records.db"
  printf 'engine rules, first release\n' >"$r/engine.db"
  database "$r/daily.db"
  printf '#!/bin/sh\necho "scanner: nothing found"\n' >"$r/Tools/scanner.sh"
  printf 'Brellium demo settings\n' >"$r/Custom/settings.txt"
  cp "$bin/brellium.exe" "$r/"   # the stand-in main program
}

database() {  # database FILE [PERCENT]: 8 MB of 64-byte random records; with PERCENT, that share of the
  # records of the existing FILE rewritten at random places, as a day's update of a signature database does
  python3 - "$@" <<'PY'
import random, sys
path, record, size = sys.argv[1], 64, 8 << 20
rng = random.Random(len(sys.argv))
if len(sys.argv) == 2:
    data = bytearray(rng.randbytes(size))
else:
    data = bytearray(open(path, "rb").read())
    count = len(data) // record
    for i in rng.sample(range(count), count * int(sys.argv[2]) // 100):
        data[i * record:(i + 1) * record] = rng.randbytes(record)
open(path, "wb").write(data)
PY
}

fetched() {  # fetched LINE: what the requests after that line of nginx's access log fetched, and what the full
  # packages of the files rebuilt from differences would have cost (their sizes from the web root)
  python3 - "$work/nginx/access.log" "$1" "$work/www" <<'PY'
import os, re, sys
log, start, www = sys.argv[1], int(sys.argv[2]), sys.argv[3]
deltas = packages = replaced = 0
for line in open(log).readlines()[start:]:
    m = re.search(r'"GET (\S+) HTTP/[\d.]+" 200 (\d+)', line)
    if not m:
        continue
    path, size = m.group(1), int(m.group(2))
    if path.startswith("/deltas/"):
        deltas += size
        package = os.path.join(www, "packages", re.sub(r"\.[0-9a-f]{16}\.[0-9a-f]{16}\.zst$", "", path[8:]))
        replaced += os.path.getsize(package + ".zip" if os.path.exists(package + ".zip") else package)
    elif path.startswith("/packages/"):
        packages += size
def text(n):
    return f"{n / 1048576:.1f} MB" if n >= 1048576 else f"{(n + 1023) // 1024} KB"
if deltas:
    others = f", and {text(packages)} of other packages" if packages else ""
    print(f"      fetched {text(deltas)} (differences) instead of {text(replaced)} (full packages){others}")
else:
    print(f"      fetched {text(packages)} (full packages; no difference was used)")
PY
}

publish() {  # publish [options]: the release folder into the web root
  echo "\$ orvane-publish --source $work/release --target $work/www ... $*"
  "$bin/orvane-publish" --source "$work/release" --target "$work/www" --base-url "http://$server/" \
    --product Brellium --version 5.1 --code DEMO --plain 'Tools/*' --sign "$work/keys/release.key" "$@"
}

forge_same_crc() {  # forge_same_crc FILE: another first byte, and four last bytes that restore the CRC-32
  python3 - "$1" <<'PY'
import sys, zlib
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
table = []
for i in range(256):
    c = i
    for _ in range(8):
        c = 0xEDB88320 ^ (c >> 1) if c & 1 else c >> 1
    table.append(c)
by_top = {t >> 24: i for i, t in enumerate(table)}
wanted = zlib.crc32(data) ^ 0xFFFFFFFF
data[0] ^= 0x20
for _ in range(4):
    i = by_top[wanted >> 24]
    wanted = ((wanted ^ table[i]) << 8 | i) & 0xFFFFFFFF
fix = wanted ^ zlib.crc32(bytes(data[:-4])) ^ 0xFFFFFFFF
data[-4:] = fix.to_bytes(4, "little")
open(path, "wb").write(data)
PY
}

snapshot() {  # snapshot FOLDER FILE: "path<TAB>checksum" of every file below the folder, the program's own left out
  # (its lock file too, which a windowless run keeps in the folder it writes)
  (cd "$1" && find . -type f ! -path './OvLng/*' ! -path './Help/*' ! -path './orvane' ! -path './orvane-wizard' \
    ! -path './orvane.lock' -printf '%P\n' | LC_ALL=C sort |
    while IFS= read -r f; do printf '%s\t%s\n' "$f" "$(cksum <"$f")"; done) >"$2"
}

changes() {  # changes BEFORE AFTER: one line for each kind of change between two snapshots, paths sorted
  awk -F'\t' 'FILENAME == ARGV[1] { before[$1] = $2; next }
              !($1 in before) { print "new\t" $1; next }
              { if (before[$1] != $2) print "changed\t" $1; delete before[$1] }
              END { for (p in before) print "removed\t" p }' "$1" "$2" |
    LC_ALL=C sort -t$'\t' -k2 |
    awk -F'\t' '{ list[$1] = list[$1] (list[$1] == "" ? "" : ", ") $2 }
                END { split("new changed removed", kinds, " ")
                      for (i = 1; i <= 3; i++)
                        if (list[kinds[i]] != "") { printf "      %-8s %s\n", kinds[i], list[kinds[i]]; n++ }
                      if (!n) print "      nothing changed" }'
}

run_mode() {  # run_mode LABEL PROGRAM-FOLDER WATCHED-FOLDER ARGS...: one run, and what it changed in the folder
  # (with capture=1, standard error goes to a file, so that the summary can say why a run stopped)
  local label=$1 program=$2 watched=$3 status
  shift 3
  snapshot "$watched" "$work/tmp/before"
  echo "\$ $program/orvane $*"
  set +e
  if [ -n "${capture:-}" ]; then
    timeout 90 "$program/orvane" "$@" 2>"$work/tmp/stderr"
    status=$?
    cat "$work/tmp/stderr" >&2
  else
    timeout 90 "$program/orvane" "$@"
    status=$?
  fi
  set -e
  snapshot "$watched" "$work/tmp/after"
  summary+=("$(printf '  %-44s exit status %s' "$label" "$status")" "$(changes "$work/tmp/before" "$work/tmp/after")")
  if [ -n "${capture:-}" ] && [ "$status" -ne 0 ]; then
    summary+=("      why: $(grep -m1 '^refused' "$work/tmp/stderr" || tail -n1 "$work/tmp/stderr")")
  fi
}

run_wizard() {
  local status display="Qt's offscreen platform"
  local environment=(QT_QPA_PLATFORM=offscreen ORVANE_SCREENSHOT="$work/wizard-final-page.png")
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    display="your display"
    environment=(ORVANE_SCREENSHOT="$work/wizard-final-page.png")
  fi
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then  # Qt wants one, private to the user
    mkdir -m 700 "$work/runtime"
    environment+=(XDG_RUNTIME_DIR="$work/runtime")
  fi
  snapshot "$work/wizard" "$work/tmp/before"
  echo "\$ $work/wizard/orvane /SCHEDULED ${product[*]}    (on $display)"
  set +e
  env "${environment[@]}" timeout 90 "$work/wizard/orvane" /SCHEDULED "${product[@]}" 2>"$work/wizard.err"
  status=$?
  set -e
  cat "$work/wizard.err" >&2
  snapshot "$work/wizard" "$work/tmp/after"
  summary+=("$(printf '  %-44s exit status %s' "wizard /SCHEDULED into wizard/" "$status")")
  if [ "$status" -ne 0 ]; then
    summary+=("      the wizard did not run to its end: $(tail -n1 "$work/wizard.err")")
  else
    summary+=("$(changes "$work/tmp/before" "$work/tmp/after")")
  fi
}

"$bin/orvane-publish" keygen --out "$work/keys/release"
start_nginx "$work/nginx" "$work/www"
# Both of the program's server host names point at this nginx.
export ORVANE_UPDATE_SERVER="$server" ORVANE_DEMO_SERVER="$server"
make_release
for folder in mirror client wizard; do program_folder "$folder"; done
# The wizard installs into the folders of an installed product; unlike the client, it makes none of its own.
mkdir "$work/wizard/Tools"

echo
echo "== Release 1: published and served at http://$server/"
publish
summary+=("Release 1 (records.db, engine.db, daily.db (8 MB), Tools/scanner.sh, Custom/settings.txt, brellium.exe):")
run_mode "mirror /ENTS into share/" "$work/mirror" "$work/share" /ENTS "SFLD=$work/share" "${product[@]}"
run_mode "client /ENTC from share/ into client/" "$work/client" "$work/client" /ENTC "SFLD=$work/share"
run_wizard

echo
echo "== Release 2: records.db changed, 1% of daily.db's records changed, Tools/scanner.sh removed"
printf 'record 301: signature 00c0ffee\n' >>"$work/release/records.db"
database "$work/release/daily.db" 1
rm "$work/release/Tools/scanner.sh"
# The publisher offers daily.db's difference from the version it published first.
publish --remove tools:scanner.sh
summary+=("Release 2 (records.db changed, 1% of daily.db's records changed, Tools/scanner.sh removed):")
requests_before=$(wc -l <"$work/nginx/access.log")
run_mode "mirror /ENTS into share/" "$work/mirror" "$work/share" /ENTS "SFLD=$work/share" "${product[@]}"
summary+=("$(fetched "$requests_before")")
run_mode "client /ENTC from share/ into client/" "$work/client" "$work/client" /ENTC "SFLD=$work/share"

echo
echo "== Release 3: engine.db changed; on the share, its copy is then forged to the same size and CRC-32"
printf 'engine rules, third release\n' >"$work/release/engine.db"
publish --remove tools:scanner.sh
summary+=("Release 3 (engine.db changed; share/engine.db then forged to the same size and CRC-32):")
run_mode "mirror /ENTS into share/" "$work/mirror" "$work/share" /ENTS "SFLD=$work/share" "${product[@]}"
forge_same_crc "$work/share/engine.db"
capture=1 run_mode "client /ENTC from share/ into client/" "$work/client" "$work/client" /ENTC "SFLD=$work/share"

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
run_log="wizard/OVLog.txt the wizard's run log (the windowless modes write one only to say why they refused a catalogue)"
[ -f "$work/wizard/OVLog.txt" ] ||
  run_log="wizard/OVLog.txt absent: only the wizard keeps a run log, and it did not run"
cat <<EOF
Files, all below $work:
  release/         the product files published     www/     the web root nginx served (deltas/: differences)
  www.history/     the versions the publisher published last, which it makes differences from
  keys/            the release key: release.key signs, release.pub is in each program folder's OvKeys/
  share/           the mirror's shared folder, with latest.xml and the server's catalogue.signed.xml
  client/          the client's program folder     wizard/  the wizard's program folder
  $run_log
  nginx/           nginx's configuration and logs (access.log: every request)
EOF
if [ -f "$work/wizard-final-page.png" ]; then
  echo "Screenshot of the wizard's final page: $work/wizard-final-page.png"
else
  echo "Screenshot of the wizard's final page: none (the wizard did not reach it)"
fi
if ((windows)); then
  echo
  echo "== The Windows program: mirror, client and scheduled wizard under Wine, on an Xvfb screen"
  echo "Building in $root/build-win ..."
  bash "$root/scripts/build-windows.sh" build-win >/dev/null
  bash "$root/scripts/test-windows.sh" "$root/build-win" "$root/build" | tail -n1
  echo "Screenshot of the Windows wizard's final page: $root/build-win/screenshots/scheduled.png"
fi
