#!/usr/bin/env bash
# Peak memory and time of audit mode on crafted configs of S bytes, against the bound
# 1.5 x S + 64 MiB: the shapes that would make a console model grow with what it reads (findings,
# variables, values, binds, routes, warnings) or spin (loops, long lines). /usr/bin/time -v
# measures; exits 1 when a run is over the bound.
#
#   bench/audit_memory.sh                        # S = 40 MB, build/bench/bench/audit_run (built if missing)
#   SIZE_MB=10 SHAPES="vars chain" bench/audit_memory.sh
#   AUDIT="build/ci/bin/tromel-check --audit --list" bench/audit_memory.sh   # any command taking LIST CONFIG
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb="${SIZE_MB:-40}"
build="${BUILD_DIR:-build/bench}"
if [ -z "${AUDIT:-}" ]; then
    if [ ! -x "$build/bench/audit_run" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTROMEL_BUILD_GUI=OFF -DTROMEL_BUILD_TESTS=OFF \
            -DTROMEL_BUILD_BENCH=ON >/dev/null
        cmake --build "$build" --target audit_run >/dev/null
    fi
    AUDIT="$build/bench/audit_run"
fi
[ -x /usr/bin/time ] || { echo "audit_memory.sh: needs /usr/bin/time (Debian package: time)"; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bytes=$((size_mb * 1000 * 1000))
limit_kb=$(((bytes * 3 / 2 + 64 * 1024 * 1024) / 1024))

# 62 one-letter names, as a hostile list would have them.
{ echo "Forbidden cvars 1.01-01-2026"; for c in {a..z} {A..Z} {0..9}; do echo "$c"; done; } >"$work/list.ini"

make_config() {
    python3 - "$1" "$bytes" "$work/config.cfg" <<'EOF'
import sys
shape, size, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
letters = [chr(c) for c in range(ord('a'), ord('z') + 1)] + [chr(c) for c in range(ord('A'), ord('Z') + 1)] + list("0123456789")
out = open(path, "w", newline="")
written = 0
def put(s):
    global written
    out.write(s)
    written += len(s)
n = 0
if shape == "setlines":      # every line names all the cvars
    line = "set " + " ".join(letters) + " \n"
    while written < size: put(line)
elif shape == "bare":        # 10 million sets
    while written < size: put("a 1;")
elif shape == "vars":        # a million variables holding command text
    while written < size: put('set v%d "a 1;b 2"\n' % n); n += 1
elif shape == "chain":       # one vstr chain through every line, run by a key
    while written < size - 64: put('set v%d "vstr v%d"\n' % (n, n + 1)); n += 1
    put('set v%d "a 1"\nbind x "vstr v0"\n' % n)
elif shape == "binds":       # binds nested 140 deep, line after line
    line = "bind x " * 140 + "a 5\n"
    while written < size: put(line)
elif shape == "execs":       # distinct files that are not there
    while written < size: put("exec missing%d\n" % n); n += 1
elif shape == "loops":       # a vstr loop started again and again
    put('set v "vstr v"\n')
    while written < size: put("vstr v;")
elif shape == "longline":    # one line: the cut runs 40,000 times
    put("set"); put(" " * (size - 3))
EOF
}

status=0
printf '%-9s %8s %11s %11s %8s %10s  %s\n' shape "S (MB)" "peak (MiB)" "limit" secs findings result
for shape in ${SHAPES:-setlines bare vars chain binds execs loops longline}; do
    make_config "$shape"
    s=$(stat -c %s "$work/config.cfg")
    limit=$(((s * 3 / 2 + 64 * 1024 * 1024) / 1024))
    /usr/bin/time -v $AUDIT "$work/list.ini" "$work/config.cfg" >"$work/out" 2>"$work/time" || true
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
    secs=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
    found=$(awk '/^Total: /{print $2}' "$work/out")
    result=ok
    if [ "$peak" -gt "$limit" ]; then result=OVER; status=1; fi
    printf '%-9s %8.1f %11d %11d %8s %10s  %s\n' "$shape" "$(echo "$s / 1000000" | bc -l)" $((peak / 1024)) $((limit / 1024)) \
        "$secs" "${found:-?}" "$result"
done
exit "$status"
