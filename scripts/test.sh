#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the warnings-as-errors build, the
# sanitizer build, a short run of each fuzz target when clang is there, and last the Windows build
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc)
echo "== Build and test (warnings as errors)"
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

if [ -x scripts/fuzz.sh ] && command -v clang++ >/dev/null; then
    echo "== Fuzz smoke run"
    FUZZ_SECONDS="${FUZZ_SECONDS:-30}" scripts/fuzz.sh
fi

scripts/windows.sh
echo "All tests passed."
