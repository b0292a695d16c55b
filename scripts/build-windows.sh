#!/usr/bin/env bash
# Cross-builds the Windows programs: scripts/build-windows.sh FOLDER [extra cmake arguments...]
# FOLDER ends up holding orvane.exe, brellium.exe and OvLng/ (in FOLDER/bin) beside the build's own files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build-windows.sh FOLDER [cmake args...]}
shift
cmake -S "$root" -B "$root/$dir" -G Ninja -DORVANE_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
cmake --build "$root/$dir" -j "$(nproc)"
