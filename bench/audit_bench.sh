#!/usr/bin/env bash
# Audit mode against the plain scan on the same corpora: best wall time, peak memory and findings.
#
#   bench/audit_bench.sh [BUILD_DIR] [CORPUS_DIR]
#
# BUILD_DIR defaults to build/bench (configured for Release when it has no tromel-check yet);
# CORPUS_DIR defaults to bench/corpus, filled by bench/gen_corpus.py when files are missing.
# RUNS (default 3) runs of each command; the fastest counts. INPUTS (space-separated) picks corpora.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/bench}
corpus=${2:-$here/corpus}
runs=${RUNS:-3}

if [ ! -x "$build/bin/tromel-check" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTROMEL_BUILD_GUI=OFF \
        -DTROMEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target tromel-check >/dev/null
check=$build/bin/tromel-check

read -r -a inputs <<<"${INPUTS:-config-52k.cfg config-200m.cfg line-100m.cfg spaces-100m.cfg dense-1m.cfg dir-10k binds-1m.cfg}"
missing=0
for f in names-550.ini "${inputs[@]}"; do
    [ "$f" = binds-1m.cfg ] || [ -e "$corpus/$f" ] || missing=1
done
if [ "$missing" = 1 ]; then
    python3 "$here/gen_corpus.py" "$corpus" --only lists,52k,200m,line,spaces,dense,dir
fi
list=$corpus/names-550.ini
# Binds nested 140 deep, line after line, ending in a listed name.
if [ ! -e "$corpus/binds-1m.cfg" ]; then
    name=$(sed -n 2p "$list" | tr -d '\r')
    python3 -c 'import sys; line = "bind x " * 140 + sys.argv[1] + " 5\n"; sys.stdout.write(line * (2**20 // len(line) + 1))' \
        "$name" >"$corpus/binds-1m.cfg"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One row: the fastest of $runs runs, the largest peak memory, and the findings reported.
measure() {
    local input=$1 mode=$2
    shift 2
    local best="" peak=0 secs kb
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%e %M' -o "$scratch/time" "$check" --list "$list" "$@" "$corpus/$input" \
            >"$scratch/out" 2>/dev/null || [ $? -eq 1 ]
        # time puts "Command exited with non-zero status 1" first when something was found.
        read -r secs kb < <(tail -n 1 "$scratch/time")
        if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    local found
    found=$(awk '/^Total: /{s+=$2} END{print s+0}' "$scratch/out")
    printf '%-16s %-12s %9s %10s %12s\n' "$input" "$mode" "$best" "$((peak / 1024))" "$found"
}

printf '%-16s %-12s %9s %10s %12s\n' "corpus" "mode" "seconds" "peak MiB" "findings"
for input in "${inputs[@]}"; do
    measure "$input" plain
    measure "$input" audit --audit
    for dialect in etlegacy ioq3 et; do
        measure "$input" "audit-$dialect" --audit --dialect "$dialect"
    done
done
