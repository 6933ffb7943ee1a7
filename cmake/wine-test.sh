#!/usr/bin/env bash
# The emulator of cross-built tests: wine-test.sh WINE PROGRAM [ARGS...]
# Now and then Wine fails before a program starts: the run ends at once with no output at all
# (once in 287 tests on a fresh machine). Every test program prints before its first test, so a
# failed run that printed nothing on stdout is Wine's, and it is run once more. A program that
# printed anything, or fails that way twice, fails as it did.
set -u
wine=$1
shift
out=$(mktemp) || exit 2
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
    "$wine" "$@" >"$out"
    status=$?
    if [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 2 ]; then
        cat "$out" || exit 2
        exit "$status"
    fi
    echo "wine-test.sh: $1 ended with status $status before printing anything; running it again" >&2
done
