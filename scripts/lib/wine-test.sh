#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest: the cross build's emulator. The output goes through a file,
# since Wine may start a background process of its own from the test program (the desktop's explorer, when a
# window is made), which would keep ctest's output pipe open until the test timed out.
set -u
output=$(mktemp)
/usr/lib/wine/wine64 "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit "$status"
