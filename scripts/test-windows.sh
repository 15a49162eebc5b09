#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 and runs the tests under Wine,
# in a Wine prefix under the build folder with one virtual display for the whole run. Called
# by test.sh after the Linux tests; installs what is missing first. A test that fails is run
# once more before it counts: the virtual display under Wine now and then refuses a window.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup-windows.sh

build=build/windows
prefix="$(pwd)/$build/wine-prefix"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
trap 'scripts/wine-run.sh --prefix "$prefix" --stop 2>/dev/null || true' EXIT
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 300 --repeat until-pass:2
