#!/bin/sh
# Builds the download comparison in its own release build folder and runs it.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench-http}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BENCH=ON -DORVANE_GUI=OFF >/dev/null
cmake --build "$build" -j2 --target http_download_compare
"$build/bench/http/http_download_compare"
