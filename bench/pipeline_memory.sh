#!/usr/bin/env bash
# Peak memory of tromel-check on a config crafted to make about 20 million findings: 62 one-letter
# names, every line "set a b ... 9 ". Text and JSON must stay within 96 MiB whatever the number
# of findings; audit within 1.5 x S + 64 MiB for a config of S bytes. Each run is also tried under
# an address-space limit of 1,000,000 KiB, where it must end with a status and a message, not abort.
#
#   TROMEL_CHECK=build/release/bin/tromel-check SIZE_MB=40 bench/pipeline_memory.sh
set -euo pipefail
bin="${TROMEL_CHECK:-build/release/bin/tromel-check}"
size_mb="${SIZE_MB:-40}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$size_mb" <<'PY'
import string, sys
work, size = sys.argv[1], int(sys.argv[2]) << 20
names = string.ascii_lowercase + string.ascii_uppercase + string.digits
with open(f"{work}/list.ini", "w") as f:
    f.write("Crafted list 1.07-12-2026\n" + "".join(n + "\n" for n in names))
line = ("set " + "".join(n + " " for n in names) + "\n").encode()
with open(f"{work}/crafted.cfg", "wb") as f:
    f.write(line * (size // len(line)))
PY
bytes=$(stat -c %s "$work/crafted.cfg")
audit_limit=$(( bytes * 3 / 2 / 1048576 + 64 ))

measure() { # label, limit in MiB, args...
    local label="$1" limit="$2"
    shift 2
    /usr/bin/time -f "%M %e" -o "$work/time" "$bin" --list "$work/list.ini" "$@" "$work/crafted.cfg" \
        >"$work/out" 2>"$work/err" || true
    read -r kb secs < <(tail -n 1 "$work/time")
    local mib=$(( kb / 1024 )) verdict="ok"
    [ "$mib" -le "$limit" ] || verdict="OVER"
    local outsize
    outsize=$(stat -c %s "$work/out")
    printf '%-6s peak %5d MiB (limit %4d MiB) %s, %6.2f s, %d MiB of output\n' \
        "$label" "$mib" "$limit" "$verdict" "$secs" $(( outsize / 1048576 ))
    local status=0
    ( ulimit -v 1000000; exec "$bin" --list "$work/list.ini" "$@" "$work/crafted.cfg" ) \
        >/dev/null 2>"$work/err" || status=$?
    printf '       under ulimit -v 1000000: status %d %s\n' "$status" "$(head -c 200 "$work/err" | tr '\n' ' ')"
}

echo "config: $bytes bytes"
measure text 96
measure json 96 --format json
measure audit "$audit_limit" --audit
