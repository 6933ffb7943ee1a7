#!/usr/bin/env bash
# The window on the crafted config: 62 one-letter names (a to z, A to Z, 0 to 9) and every line
# "set a b ... 9 ", S = 40 MB, about 19 million findings. Offscreen, it measures and checks:
#   - peak RSS (/usr/bin/time -v) and the time from the click to the painted report, against
#     2 x S + 128 MiB;
#   - the same under ulimit -v 1000000: the report or the "too large" message, never a window
#     that vanishes; and the message for a report that cannot fit (70,000 names "a", 10,000
#     lines "set a ": 700 million findings);
#   - how long a close takes while the check runs (at most 0.5 s), at several moments, on the
#     crafted config and on a sparse 4 GB config of one line.
# Exits 1 when a check fails.
#
#   bench/window_memory.sh                # build/ci/bench/window_bench (built if missing)
#   SIZE_MB=40 WINDOW_BENCH=path/to/window_bench bench/window_memory.sh
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb="${SIZE_MB:-40}"
bin="${WINDOW_BENCH:-build/ci/bench/window_bench}"
if [ ! -x "$bin" ]; then
    cmake --preset ci >/dev/null && cmake --build --preset ci --target window_bench >/dev/null
fi
[ -x /usr/bin/time ] || { echo "window_memory.sh: needs /usr/bin/time (Debian package: time)"; exit 2; }
export QT_QPA_PLATFORM=offscreen

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bytes=$((size_mb * 1000 * 1000))
limit_kb=$(((bytes * 2 + 128 * 1024 * 1024) / 1024))
names=({a..z} {A..Z} {0..9})
{ echo "crafted v 1.01-01-2026"; printf '%s\n' "${names[@]}"; } >"$work/cvars.ini"
{ yes "set ${names[*]} " || true; } | head -c "$bytes" >"$work/crafted.cfg"
truncate -s 4G "$work/oneline.cfg"
{ echo "same v 1.x"; { yes a || true; } | head -n 70000; } >"$work/same.ini"
{ yes "set a " || true; } | head -n 10000 >"$work/same.cfg"

status=0
fail() {
    echo "  FAILED: $*"
    status=1
}

echo "crafted config: $size_mb MB, limit $((limit_kb / 1024)) MiB"
/usr/bin/time -v -o "$work/time.txt" "$bin" "$work/cvars.ini" "$work/crafted.cfg" 2>/dev/null | tee "$work/out.txt"
peak_kb=$(sed -n 's/^.*Maximum resident set size (kbytes): //p' "$work/time.txt")
echo "  peak RSS $((peak_kb / 1024)) MiB (/usr/bin/time)"
grep -q "items shown" "$work/out.txt" || fail "no report"
[ "$peak_kb" -le "$limit_kb" ] || fail "over the limit"

echo "the same under ulimit -v 1000000"
limited() {
    set +e
    (ulimit -v 1000000 && "$bin" "$@" 2>/dev/null) >"$work/out.txt"
    rc=$?
    set -e
    cat "$work/out.txt"
    [ "$rc" -eq 0 ] || fail "exit status $rc"
}
limited "$work/cvars.ini" "$work/crafted.cfg"
grep -Eq "items shown|too large.*window usable: yes" "$work/out.txt" || fail "neither the report nor the message"
echo "a report that cannot fit, under ulimit -v 1000000"
limited "$work/same.ini" "$work/same.cfg"
grep -q "too large.*window usable: yes" "$work/out.txt" || fail "no message"

for config in crafted oneline; do
    echo "close while the check of $config.cfg runs"
    for ms in 100 200 300 400 600; do
        out=$(timeout 30 "$bin" --close-after "$ms" "$work/cvars.ini" "$work/$config.cfg" 2>/dev/null) || out="no answer"
        echo "  after $ms ms: $out"
        took=$(sed -n 's/^window: closed \([0-9.]*\) ms.*/\1/p' <<<"$out")
        [ -n "$took" ] && awk "BEGIN { exit !($took <= 500) }" || fail "close took too long"
    done
done
exit "$status"
