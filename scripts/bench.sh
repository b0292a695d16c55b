#!/usr/bin/env bash
# Builds the benchmarks in a release build folder and runs them:
# scripts/bench.sh [xml|zip|http|crc|windowless ...] (all of them when none is named). Each prints its own
# ratio against the reference it is measured with.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" build-bench -DCMAKE_BUILD_TYPE=Release -DORVANE_BENCH=ON >/dev/null

declare -A programs=(
  [xml]=bench/xml/xml_bench
  [zip]=bench/zip/zip_bench
  [wizard]=bench/qt/wizard_download_bench
  [http]=bench/http/http_download_compare
  [crc]=bench/OVCommon/ovcommon_crc_bench
  [windowless]=bench/dEM/windowless_compare
)
selected=("$@")
((${#selected[@]})) || selected=(xml zip http crc windowless)
for name in "${selected[@]}"; do
  [ -n "${programs[$name]:-}" ] || { echo "unknown benchmark: $name" >&2; exit 2; }
  echo "== $name"
  "$build/${programs[$name]}"
done
