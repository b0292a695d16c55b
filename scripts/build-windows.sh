#!/usr/bin/env bash
# Cross-builds the Windows programs: scripts/build-windows.sh FOLDER [extra cmake arguments...]
# FOLDER ends up holding orvane.exe, brellium.exe and OvLng/ (in FOLDER/bin) beside the build's own files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build-windows.sh FOLDER [cmake args...]}
shift
# A relative folder lies in the repository; an absolute one is taken as it is.
[[ "$dir" = /* ]] || dir="$root/$dir"
cmake -S "$root" -B "$dir" -G Ninja -DORVANE_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
