#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for FUZZ_SECONDS (default 30).
# A crash, a sanitizer report, a hang or a mismatch with the plain rule fails the run; the input
# that did it is kept in the build folder's artifacts/.
#
#   FUZZ_SECONDS=600 scripts/fuzz.sh          # longer runs
#   FUZZ_TARGETS="scan" scripts/fuzz.sh       # some targets only
#   FUZZ_BUILD_DIR=/tmp/fz scripts/fuzz.sh    # another build folder than build/fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
targets="${FUZZ_TARGETS:-lines list scan audit rules}"
build="${FUZZ_BUILD_DIR:-build/fuzz}"

mkdir -p "$build"
if ! { cmake --preset fuzz -B "$build" && cmake --build "$build" -j"$(nproc)"; } >"$build/build.log" 2>&1; then
    echo "fuzz: build failed (log: $build/build.log)"
    grep -m5 -E 'error|Error' "$build/build.log" || tail -n 20 "$build/build.log"
    exit 1
fi

status=0
for t in $targets; do
    corpus="$build/corpus/$t"   # what the fuzzer learns; the seeds in the tree stay as written
    artifacts="$build/artifacts/$t"
    log="$build/fuzz_$t.log"
    mkdir -p "$corpus" "$artifacts"
    if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/seeds/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        echo "fuzz_$t: ok, ${runs:-?} runs in ${seconds}s (${rate:-?}/s)"
    else
        status=1
        echo "fuzz_$t: FAILED (log: $log, input: $artifacts/)"
        grep -m1 -E 'MISMATCH|ERROR: (AddressSanitizer|libFuzzer)|runtime error|Timeout|out-of-memory' "$log" || tail -n 20 "$log"
    fi
done
exit "$status"
