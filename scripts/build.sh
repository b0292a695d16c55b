#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh FOLDER [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build.sh FOLDER [cmake args...]}
shift
cmake -S "$root" -B "$root/$dir" -G Ninja -DORVANE_WERROR=ON "$@" >/dev/null
cmake --build "$root/$dir" -j "$(nproc)"
