#!/usr/bin/env bash
# Cross-builds the Windows programs: scripts/build-windows.sh FOLDER [extra cmake arguments...]
# FOLDER ends up holding orvane.exe, brellium.exe and OvLng/ (in FOLDER/bin) beside the build's own files.
# They are 32-bit, as shipped; -DORVANE_MINGW_TRIPLE=x86_64-w64-mingw32 (in a folder of its own) makes 64-bit ones.
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
