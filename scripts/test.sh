#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and tests three ways:
# the normal build, the AddressSanitizer + UndefinedBehaviorSanitizer build, and a short run of every fuzz target;
# then the Windows build, its tests, screenshots of its wizard and an end-to-end run of orvane.exe, all under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/bootstrap.sh

summary=()
run_ctest() {  # run_ctest FOLDER LABEL [CTEST OPTIONS...]
  local log
  log=$(mktemp)
  set +e
  (cd "$1" && ctest -j "$(nproc)" --output-on-failure --timeout 600 "${@:3}") 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  set -e
  summary+=("$2: $(grep -E 'tests passed, [0-9]+ tests failed' "$log" | tail -n1)")
  rm -f "$log"
  return "$status"
}

echo "== normal build"
bash scripts/build.sh build
run_ctest build normal

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh build-asan -DORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan sanitizer

echo "== fuzz targets"
bash scripts/fuzz.sh "${ORVANE_FUZZ_SECONDS:-15}"

echo "== Windows build (mingw-w64) under Wine"
bash scripts/build-windows.sh build-win
# shellcheck source=lib/nginx.sh
source scripts/lib/nginx.sh
# shellcheck source=lib/wine.sh
source scripts/lib/wine.sh
use_wine "$root/build-win"
trap 'stop_nginx; stop_wine' EXIT
serve_windows_tests "$root/build-win/test-nginx"
# Under Wine a test program now and then ends at once with no output at all, a start-up failure of the emulator
# rather than of the test (the same test passes when run again); a failed test is run once more, and only a second
# failure counts.
run_ctest build-win windows --repeat until-pass:2
shots_log=$(mktemp)
bash scripts/screenshots-windows.sh build-win 2>&1 | tee "$shots_log"
summary+=("windows screenshots: $(tail -n1 "$shots_log")")
rm -f "$shots_log"
stop_nginx
e2e_log=$(mktemp)
bash scripts/test-windows.sh build-win build 2>&1 | tee "$e2e_log"
summary+=("windows end-to-end: $(tail -n1 "$e2e_log")")
rm -f "$e2e_log"

printf '%s\n' "${summary[@]}"
