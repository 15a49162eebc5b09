#!/usr/bin/env bash
# Builds chatroom-server and its tests with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test; then cross-builds the Windows program and its tests with MinGW-w64 and runs
# them under Wine: the Windows unit tests, and the end-to-end and stress suites (their clients
# are the Linux test programs) against chatroom-server.exe. Installs what is missing first.
# Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
source scripts/setup.sh
# Only the tests need these: clang with its sanitizer and libFuzzer runtimes for the fuzz
# targets, the desktop entry validator for the package check.
chatroom_install clang libclang-rt-14-dev desktop-file-utils
# The cross compiler, Wine, a virtual display.
source scripts/setup-windows.sh

build=build/sanitize
windows_build=build/windows
windows_server="$root/$windows_build/chatroom-server.exe"
# The Wine prefix of the Windows build's tests; its Wine server and virtual display stay up
# between the tests' programs and are ended when this script ends, passed or failed.
wine_prefix="$root/$windows_build/wine-prefix"
trap 'scripts/wine-run.sh --prefix "$wine_prefix" --stop 2>/dev/null || true' EXIT

# The Linux build also registers the suites' runs against the Windows program (labelled
# windows), which run once that is built.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCHATROOM_SANITIZE=ON -DCHATROOM_WINDOWS_SERVER="$windows_server" >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j 2 --timeout 600 -LE windows
# A short run of every libFuzzer target.
"$root/fuzz/run.sh" 10

windows_started=$SECONDS
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows_build" -j "$(nproc)"
# One at a time: the tests share the prefix's registry.
ctest --test-dir "$windows_build" --output-on-failure --timeout 600
ctest --test-dir "$build" --output-on-failure --timeout 600 -L windows
echo "test.sh: the Windows build and its tests took $((SECONDS - windows_started)) s"
