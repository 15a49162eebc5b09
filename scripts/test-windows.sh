#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 and runs them all under Wine,
# in a Wine prefix under the build folder: the runtime, registry, files and host information
# suites, and those that draw on Wine's virtual display (the console's window and its
# screenshot, the installer, the program without a display). Installs what is missing first.
# Called by test.sh.
#
#   scripts/test-windows.sh                 every test
#   scripts/test-windows.sh --no-display    a quicker run without the display tests
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup-windows.sh

build=build/windows
prefix="$(pwd)/$build/wine-prefix"
selection=()
case "${1:-}" in
  "") ;;
  --no-display) selection=(-LE display) ;;
  *) echo "usage: scripts/test-windows.sh [--no-display]" >&2; exit 2 ;;
esac
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
trap 'scripts/wine-run.sh --prefix "$prefix" --stop 2>/dev/null || true' EXIT
cmake --build "$build" -j "$(nproc)"
# A test that fails once fails the run: no second tries.
ctest --test-dir "$build" --output-on-failure --timeout 300 "${selection[@]}"
