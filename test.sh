#!/usr/bin/env bash
# Builds chatroom-server and its tests with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test (the web page's in a headless Chromium among them), then builds the Windows program and runs its tests under Wine, the window,
# screenshot and installer tests on a virtual display among them (scripts/test-windows.sh),
# and the end-to-end suites against it. Installs what is missing first, then runs in a network
# namespace of its own where it can. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
source scripts/setup.sh
# Only the tests need these: clang with its sanitizer and libFuzzer runtimes for the fuzz
# targets, the desktop entry validator for the package check.
chatroom_install clang libclang-rt-14-dev desktop-file-utils iproute2
# The browser tests': Debian's Chromium, Node.js with npm, and puppeteer-core as the lock file
# pins it (again only when the lock file changed since the last install).
chatroom_install chromium
command -v npm >/dev/null || chatroom_install nodejs npm
if ! cmp -s tests/browser/package-lock.json tests/browser/node_modules/.installed-lock.json; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error && cp package-lock.json node_modules/.installed-lock.json)
fi
export CHATROOM_BROWSER_REQUIRED=1
# The Windows build's packages too, now: the tests below run without a network.
source scripts/setup-windows.sh

# The tests listen on the fixed port 19730, which another program on this machine may hold:
# they run in a network namespace of their own, with a loopback of their own, where one can be
# made (with the right to make one, as root), otherwise on the machine's. Not in a user
# namespace: there the tests would run as a root that cannot switch to another user, and Wine
# would keep its sessions apart from those of the real user.
if [ -z "${CHATROOM_TEST_NETNS:-}" ] && unshare -n sh -c 'ip link set lo up' 2>/dev/null; then
  exec unshare -n env CHATROOM_TEST_NETNS=1 bash -c 'ip link set lo up && exec bash "$0" "$@"' "$root/test.sh" "$@"
fi

build=build/sanitize
# The Linux build also registers the end-to-end suites' runs against the Windows program
# (labelled windows), which run once that is built, under Wine.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCHATROOM_SANITIZE=ON -DCHATROOM_WINDOWS_SERVER="$root/build/windows/chatroom-server.exe" >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j 2 --timeout 600 -LE windows
# A short run of every libFuzzer target.
"$root/fuzz/run.sh" 10
# The Windows program, cross-built, with its tests under Wine; then the end-to-end suites, whose
# clients stay Linux programs, against it.
"$root/scripts/test-windows.sh"
ctest --output-on-failure --timeout 600 -L windows
