#!/usr/bin/env bash
# Builds chatroom-server (Release) and starts it: the console window when there is a display,
# headless otherwise. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCHATROOM_TESTS=OFF >/dev/null
cmake --build "$build" --target chatroom-server -j "$(nproc)"
exec "$build/chatroom-server" "$@"
