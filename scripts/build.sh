#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh FOLDER [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build.sh FOLDER [cmake args...]}
shift
# A relative folder lies in the repository; an absolute one is taken as it is.
[[ "$dir" = /* ]] || dir="$root/$dir"
cmake -S "$root" -B "$dir" -G Ninja -DORVANE_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
