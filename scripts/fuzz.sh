#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time: scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-15}
CC=clang CXX=clang++ bash "$root/scripts/build.sh" build-fuzz -DORVANE_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
status=0
while read -r name; do
  [ -n "$name" ] || continue
  corpus=$(mktemp -d)
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
  echo "-- $name (${seconds}s)"
  if ! "$root/build-fuzz/fuzzers/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=0 "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1; then
    tail -n 60 "$corpus.log"
    echo "fuzz target $name FAILED"
    status=1
  else
    grep -E '^Done|#[0-9]+.*DONE' "$corpus.log" | tail -n1 || true
  fi
  rm -rf "$corpus" "$corpus.log"
done < "$root/build-fuzz/fuzzers.txt"
exit $status
