#!/usr/bin/env bash
# Peak memory of tromel-check for configs of S bytes, against the bound 1.5 x S + 64 MiB, for
# several lists. The configs are the worst shapes: one line of S spaces, one line of S letters,
# S NUL bytes, and ordinary lines. Measured with /usr/bin/time -v; exits 1 when a run is over.
#
#   bench/memory.sh                      # S = 100 MB, build/ci/bin/tromel-check (built if missing)
#   SIZE_MB=20 TROMEL_CHECK=path/to/tromel-check bench/memory.sh
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb="${SIZE_MB:-100}"
bin="${TROMEL_CHECK:-build/ci/bin/tromel-check}"
if [ ! -x "$bin" ]; then
    cmake --preset ci >/dev/null && cmake --build --preset ci --target tromel-check >/dev/null
fi
[ -x /usr/bin/time ] || { echo "memory.sh: needs /usr/bin/time (Debian package: time)"; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bytes=$((size_mb * 1000 * 1000))
limit_kb=$(((bytes * 3 / 2 + 64 * 1024 * 1024) / 1024))

# Lists: two names; 100,000 names; names made of spaces and one long name, the costliest to match.
printf 'list v 1.25-02-2007\nr_a\ncg_b\n' >"$work/small.ini"
{ echo "big v 1.01-01-2024"; seq -f 'cvar_%g' 1 100000; } >"$work/big.ini"
{ echo "odd v 1.x"; echo " "; echo "x y"; echo "   "; head -c 100000 /dev/zero | tr '\0' 'n'; echo; } >"$work/spacey.ini"

make_config() {
    case "$1" in
    spaces) { head -c "$((bytes - 3))" /dev/zero | tr '\0' ' '; printf set; } ;; # one finding for "   "
    oneline) { printf 'set '; head -c "$((bytes - 4))" /dev/zero | tr '\0' 'x'; } ;;
    nul) head -c "$bytes" /dev/zero ;;
    lines) { yes 'seta r_a 1 cvar_99999 x y' || true; } | head -c "$bytes" ;; # findings on every line
    esac >"$work/config.cfg"
}

status=0
printf '%-8s %-7s %9s %10s %10s %7s  %s\n' config list "S (MB)" "peak (MiB)" "limit" "secs" result
for config in spaces oneline nul lines; do
    make_config "$config"
    for list in small big spacey; do
        set +e
        timeout 600 /usr/bin/time -v -o "$work/time.txt" "$bin" --list "$work/$list.ini" "$work/config.cfg" \
            >/dev/null 2>"$work/err.txt"
        rc=$?
        set -e
        peak_kb=$(sed -n 's/^.*Maximum resident set size (kbytes): //p' "$work/time.txt")
        secs=$(sed -n 's/^.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
        result=ok
        if [ "$rc" -gt 1 ]; then
            result="FAILED (exit $rc: $(head -c 200 "$work/err.txt"))"
            status=1
        elif [ "${peak_kb:-0}" -gt "$limit_kb" ]; then
            result="OVER"
            status=1
        fi
        printf '%-8s %-7s %9s %10s %10s %7s  %s\n' "$config" "$list" "$size_mb" "$((${peak_kb:-0} / 1024))" \
            "$((limit_kb / 1024))" "$secs" "$result"
    done
done
exit "$status"
