#!/usr/bin/env bash
# Builds the benchmarks in a release build folder and runs them:
# scripts/bench.sh [xml|zip|crc|http|windowless|memory|wizard|delta ...] (all of them when none is named). Each prints its own
# figures against the reference it is measured with in the same run; at the end one table gathers every ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" build-bench -DCMAKE_BUILD_TYPE=Release -DORVANE_BENCH=ON >/dev/null

declare -A programs=(
  [xml]=bench/xml/xml_bench
  [zip]=bench/zip/zip_bench
  [crc]=bench/OVCommon/ovcommon_crc_bench
  [http]=bench/http/http_download_compare
  [windowless]=bench/dEM/windowless_compare
  [memory]=bench/dEM/mirror_memory
  [wizard]=bench/qt/wizard_download_bench
  [delta]=bench/dEM/delta_compare
)
selected=("$@")
((${#selected[@]})) || selected=(xml zip crc http windowless memory wizard delta)
rows=$(mktemp)
output=$(mktemp)
trap 'rm -f "$rows" "$output"' EXIT
for name in "${selected[@]}"; do
  [ -n "${programs[$name]:-}" ] || { echo "unknown benchmark: $name" >&2; exit 2; }
  echo "== $name"
  # The table rows are kept for the end; everything else is shown as it comes.
  "$build/${programs[$name]}" | tee "$output" | grep -v '^@result'
  grep '^@result' "$output" >>"$rows" || true
done

echo
echo "== all ratios (medians of several rounds; ours / reference unless the row says otherwise)"
printf '%-58s %7s %8s %4s\n' "measure" "ratio" "target" "met"
while IFS=$'\t' read -r _ measure ratio target met; do
  printf '%-58s %7s %8s %4s\n' "$measure" "$ratio" "$target" "$met"
done <"$rows"
echo "(measured on $(nproc) cores of $(uname -m), $(date -u +%Y-%m-%d))"
