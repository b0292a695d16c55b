#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest: the cross build's emulator. The output goes through a file,
# since Wine may start a background process of its own from the test program (the desktop's explorer, when a
# window is made), which would keep ctest's output pipe open until the test timed out.
# A run that lost its connection to the Wine server ("wine client error") says nothing about the test: it is run
# once more.
set -u
output=$(mktemp)
for attempt in 1 2; do
  /usr/lib/wine/wine64 "$@" </dev/null >"$output" 2>&1
  status=$?
  grep -q '^wine client error' "$output" || break
  echo "wine lost its server (attempt $attempt):" >&2
  cat "$output" >&2
done
cat "$output"
rm -f "$output"
exit "$status"
