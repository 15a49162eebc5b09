#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 and runs the tests under Wine,
# in a Wine prefix under the build folder. Installs what is missing first. Called by test.sh,
# which runs the tests that need no display: the runtime, registry, files and host information
# suites. With --all it also runs those that draw on Wine's virtual display (the console's
# window, its screenshot, the installer), one after the other in a fresh Wine session: Wine's
# display now and then refuses windows for a whole session, which must not fail a CI run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup-windows.sh

build=build/windows
prefix="$(pwd)/$build/wine-prefix"
selection=(-LE display)
[ "${1:-}" = "--all" ] && selection=()
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
trap 'scripts/wine-run.sh --prefix "$prefix" --stop 2>/dev/null || true' EXIT
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 300 --repeat until-pass:2 "${selection[@]}"
