#!/usr/bin/env bash
# The Windows pass: cross-builds tromel-check.exe and the tests with MinGW-w64 (preset "windows")
# and runs the tests under Wine, whose prefix lives in build/windows/wine. Then, when the Linux
# build of the ci preset is there, compares what both builds print on the real-world configs.
# Installs what it needs. ./test runs it last; it also runs alone.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

jobs=$(nproc)
echo "== Windows: cross-build, and test under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
ctest --preset windows -j"$jobs"

configs=../shared/realworld/cfg
if [ -x build/ci/bin/tromel-check ] && [ -d "$configs" ]; then
    echo "== Windows: the same output as Linux on $configs"
    python3 scripts/compare-windows.py --configs "$configs"
fi
