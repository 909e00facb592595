#!/bin/sh
# Lints a man page with mandoc: any message at all, down to style hints, is
# a failure. Exits 77 (reported as skipped) when mandoc is not installed.
#   man_lint.sh PAGE
if ! command -v mandoc >/dev/null 2>&1; then
    echo "mandoc is not installed: man page not linted (apt-get install mandoc)"
    exit 77
fi
output=$(mandoc -Tlint "$1" 2>&1)
status=$?
if [ -n "$output" ] || [ "$status" -ne 0 ]; then
    printf '%s\n' "$output"
    echo "mandoc -Tlint exited with $status"
    exit 1
fi
echo "mandoc -Tlint: no messages"
