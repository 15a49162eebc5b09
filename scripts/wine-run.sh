#!/usr/bin/env bash
# Runs a Windows program under Debian's 64-bit Wine in a private prefix, with a virtual X
# display when there is none, and exits with the program's exit status. Made to be CMake's
# CROSSCOMPILING_EMULATOR, so that add_test and gtest_discover_tests run cross-built tests:
#
#   scripts/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGUMENTS...]
#   scripts/wine-run.sh [--prefix DIR] --init     prepare the prefix now
#   scripts/wine-run.sh [--prefix DIR] --stop     end its Wine server and display now
#
# The prefix is --prefix, else $CHATROOM_WINEPREFIX, else $WINEPREFIX; it is never the
# user's ~/.wine. Its first start takes seconds (wineboot creates the Windows tree), so it is
# made once, under a lock, and reused. The Wine server is kept for a while after the last
# program ends, so that a test run of many short processes pays its start once; a display
# started here lives exactly as long as that server. WINEDEBUG defaults to -all.
set -euo pipefail

wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver64
# Seconds the Wine server (and with it the display) stays after its last program.
server_linger_seconds=30
display_start_timeout_tenths=100

die() {
  echo "wine-run: $*" >&2
  # 125: the emulator failed, not the program (as in git bisect run and podman).
  exit 125
}

prefix="${CHATROOM_WINEPREFIX:-${WINEPREFIX:-}}"
if [ "${1:-}" = "--prefix" ]; then
  [ $# -ge 2 ] || die "--prefix needs a directory"
  prefix="$2"
  shift 2
fi
[ -n "$prefix" ] || die "no prefix: give --prefix DIR or set CHATROOM_WINEPREFIX"
[ $# -ge 1 ] || die "usage: wine-run.sh [--prefix DIR] PROGRAM.exe [ARGUMENTS...] | --init | --stop"
[ -x "$wine_loader" ] || die "$wine_loader is missing: install wine64 (scripts/setup-windows.sh)"
mkdir -p "$(dirname "$prefix")"
prefix="$(realpath -m "$prefix")"

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINESERVER="$wine_server"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET and no HTML engine: wineboot would otherwise offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

ready_mark="$prefix/.chatroom-ready"
display_record="$prefix/.chatroom-display"
authority="$prefix/.chatroom-xauthority"

prepare_prefix() {
  [ -f "$ready_mark" ] && return 0
  # A prefix without the mark was cut short; wineboot does not repair every half-made tree.
  rm -rf "$prefix"
  local started=$SECONDS
  "$wine_loader" wineboot --init </dev/null >/dev/null 2>&1 9>&- || die "wineboot failed for $prefix"
  "$wine_server" -w
  touch "$ready_mark"
  echo "wine-run: prepared the Wine prefix $prefix in $((SECONDS - started)) s" >&2
}

# The display recorded for this prefix, when its X server still runs.
recorded_display() {
  local number pid
  read -r number pid 2>/dev/null <"$display_record" || return 1
  kill -0 "$pid" 2>/dev/null || return 1
  echo "$number"
}

# Starts Xvfb on a free display number with a cookie of its own, and a watcher that ends it
# when the prefix's Wine server ends. The server reads every cookie in its -auth file, so the
# cookie can be written before the number is known and entered for that number afterwards.
start_display() {
  local cookie number_file pid number="" tenths=0
  cookie="$(mcookie)"
  rm -f "$authority"
  touch "$authority"
  xauth -q -f "$authority" add :0 . "$cookie"
  number_file="$(mktemp)"
  Xvfb -displayfd 3 -auth "$authority" -nolisten tcp -screen 0 1280x1024x24 \
    3>"$number_file" </dev/null >/dev/null 2>&1 &
  pid=$!
  while [ -z "$number" ] && [ $tenths -lt $display_start_timeout_tenths ]; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
    tenths=$((tenths + 1))
    number="$(tr -dc 0-9 <"$number_file")"
  done
  rm -f "$number_file"
  if [ -z "$number" ]; then
    kill "$pid" 2>/dev/null || true
    die "Xvfb did not start"
  fi
  xauth -q -f "$authority" add ":$number" . "$cookie"
  echo "$number $pid" >"$display_record"
  # wineserver -w returns when the prefix's server has ended; the display goes with it.
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  setsid bash -c '"$1" -w; kill "$2" 2>/dev/null' wine-run-display "$wine_server" "$pid" \
    </dev/null >/dev/null 2>&1 &
  echo "$number"
}

stop_prefix() {
  "$wine_server" -k 2>/dev/null || true
  local number pid
  if read -r number pid 2>/dev/null <"$display_record"; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$display_record"
}

# Everything that sets up shared state runs under one lock per prefix, so that parallel
# tests neither make the prefix twice nor start two displays. Processes that outlive this
# script must not inherit the lock's descriptor, or they would hold it for good.
exec 9>"$prefix.lock"
flock 9

case "$1" in
  --stop)
    stop_prefix
    exit 0
    ;;
  --init)
    prepare_prefix
    exit 0
    ;;
esac

prepare_prefix
if [ -z "${DISPLAY:-}" ]; then
  number="$(recorded_display)" || number="$(start_display 9>&-)"
  export DISPLAY=":$number" XAUTHORITY="$authority"
fi
# A fresh server is booted by a program of its own: the system processes that Wine starts
# with the first program (services, devices, the desktop) inherit its standard streams and
# keep them open as long as the server lives, and a test runner reading those streams would
# wait that long for the end of every test's output.
if "$wine_server" -p"$server_linger_seconds" </dev/null >/dev/null 2>&1 9>&-; then
  "$wine_loader" wineboot </dev/null >/dev/null 2>&1 9>&- || die "wineboot failed in $prefix"
fi

exec 9>&-
exec "$wine_loader" "$@"
