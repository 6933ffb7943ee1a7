#!/usr/bin/env bash
# Builds in Release and starts the window with the bundled cvars.ini.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"

bin=build/release/bin
if [ ! -x "$bin/TromelRimbolt" ]; then
    echo "The window is not built yet; checking the bundled sample config instead:"
    exec "$bin/tromel-check" "$bin/sample.cfg"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat <<MSG
No display found. On a headless machine, start the window under a virtual X server:
    apt-get install -y xvfb xauth
    xvfb-run -s '-screen 0 800x600x24' $bin/TromelRimbolt
The command-line checker works without a display:
    $bin/tromel-check $bin/sample.cfg
MSG
    exit 1
fi
exec "$bin/TromelRimbolt" "$@"
