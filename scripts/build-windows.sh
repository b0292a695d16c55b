#!/usr/bin/env bash
# Cross-builds the Windows programs: scripts/build-windows.sh FOLDER [extra cmake arguments...]
# FOLDER ends up holding orvane.exe, brellium.exe and OvLng/ (in FOLDER/bin) beside the build's own files.
# They are 32-bit, as shipped; -DORVANE_MINGW_TRIPLE=x86_64-w64-mingw32 (in a folder of its own) makes 64-bit ones.
# orvane.exe is stripped, its debug information in orvane.exe.debug beside it. With ORVANE_SIGN_CERT and
# ORVANE_SIGN_KEY naming a code-signing certificate and its private key, orvane.exe is then Authenticode-signed
# (see scripts/lib/sign.sh; ORVANE_SIGN_TIMESTAMP adds a time stamp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build-windows.sh FOLDER [cmake args...]}
shift
# A relative folder lies in the repository; an absolute one is taken as it is.
[[ "$dir" = /* ]] || dir="$root/$dir"
toolchain="$root/cmake/mingw-w64.cmake"
# A folder set up with another toolchain file (an older one, since removed) is set up afresh.
if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "^CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain\$" "$dir/CMakeCache.txt"; then
  rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
fi
cmake -S "$root" -B "$dir" -G Ninja -DORVANE_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
if [ -n "${ORVANE_SIGN_CERT:-}" ]; then
  # shellcheck source=lib/sign.sh
  source "$root/scripts/lib/sign.sh"
  sign_windows_program "$ORVANE_SIGN_CERT" "${ORVANE_SIGN_KEY:?ORVANE_SIGN_CERT needs ORVANE_SIGN_KEY}" \
    "$dir/bin/orvane.exe"
fi
