# Debian 12 packages, sourced by run.sh, test.sh and windows.sh.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libcli11-dev nlohmann-json3-dev)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev python3)
# The Windows pass: the MinGW-w64 cross compiler and Wine to run its tests (64-bit only).
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
