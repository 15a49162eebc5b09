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
# program ends, so that a test run of many short processes pays its start once. WINEDEBUG
# defaults to -all.
#
# A Wine session draws every window through the display its desktop (explorer.exe) was
# started on: once that display is gone, or was never there, user32 finds no display driver
# and refuses every window until the session ends. So a display started here outlives every
# Wine server that may use it, a session is started on the display its programs name, and a
# session whose display has gone is ended before the next program runs.
set -euo pipefail

wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver64
# Seconds the Wine server stays after its last program.
server_linger_seconds=30
# Seconds a display stays after the last Wine server of the prefix ended: a program that chose
# the display just before may reach the server only now, and then starts one on that display.
display_grace_seconds=5
display_start_timeout_tenths=100

die() {
  echo "wine-run: $*" >&2
  # 125: the emulator failed, not the program (as in git bisect run and podman).
  exit 125
}

script="$(realpath "${BASH_SOURCE[0]}")"
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
# The display started here: "NUMBER XVFB_PID WATCHER_PID NETWORK_NAMESPACE". Xvfb listens on
# an abstract socket only, which exists in the network namespace it was started in alone.
display_record="$prefix/.chatroom-display"
# The DISPLAY that the running session's desktop was started on.
session_record="$prefix/.chatroom-session"
authority="$prefix/.chatroom-xauthority"
lock_file="$prefix.lock"

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

# Whether the process runs; one that has ended but is not yet reaped (a zombie) does not.
process_runs() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"
  [ "${stat%% *}" != Z ]
}

# Whether a Wine server of the prefix runs. Signal 0 only asks; no server is started.
server_runs() {
  "$wine_server" -k0 2>/dev/null
}

# Starts the prefix's Wine server unless one runs; succeeds when this call started it. Its
# refusal also comes from a server that has just ended, while a watcher's wait holds the
# server's lock for an instant: then the start is made again once the lock is free.
start_server() {
  "$wine_server" -p"$server_linger_seconds" </dev/null >/dev/null 2>&1 9>&- && return 0
  server_runs && return 1
  "$wine_server" -w
  "$wine_server" -p"$server_linger_seconds" </dev/null >/dev/null 2>&1 9>&-
}

# The number of the display recorded for this prefix, when its X server and watcher still run.
recorded_display() {
  local number xvfb watcher netns
  read -r number xvfb watcher netns 2>/dev/null <"$display_record" || return 1
  process_runs "$xvfb" && process_runs "$watcher" || return 1
  # A display of another network namespace cannot be reached from this one.
  [ "$netns" = "$(network_namespace)" ] || return 1
  echo "$number"
}

network_namespace() {
  readlink /proc/self/ns/net 2>/dev/null || echo unknown
}

# Ends the prefix's Wine server and the display recorded for it, and waits until both are gone.
stop_prefix() {
  local number="" xvfb="" watcher="" netns=""
  read -r number xvfb watcher netns 2>/dev/null <"$display_record" || true
  # The watcher first: it started in a session of its own, so its group is its own.
  if [ -n "$watcher" ]; then
    kill -- "-$watcher" 2>/dev/null || kill "$watcher" 2>/dev/null || true
  fi
  "$wine_server" -k 2>/dev/null || true
  "$wine_server" -w || true
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
  fi
  rm -f "$display_record" "$session_record"
}

# Starts Xvfb on a free display number with a cookie of its own and records it; sets
# display_number and display_pid. The server reads every cookie in its -auth file, so the
# cookie can be written before the number is known and entered for that number afterwards.
# Xvfb is started from a subshell that ends at once, so that it is not left a child of the
# program this script becomes (which would not reap it).
start_display() {
  local cookie number_file tenths=0
  cookie="$(mcookie)"
  rm -f "$authority"
  touch "$authority"
  xauth -q -f "$authority" add :0 . "$cookie"
  number_file="$(mktemp)"
  display_number=""
  display_pid="$(
    Xvfb -displayfd 3 -auth "$authority" -nolisten tcp -screen 0 1280x1024x24 \
      3>"$number_file" </dev/null >/dev/null 2>&1 9>&- &
    echo $!
  )"
  while [ -z "$display_number" ] && [ $tenths -lt $display_start_timeout_tenths ]; do
    process_runs "$display_pid" || break
    sleep 0.1
    tenths=$((tenths + 1))
    display_number="$(tr -dc 0-9 <"$number_file")"
  done
  rm -f "$number_file"
  if [ -z "$display_number" ]; then
    kill "$display_pid" 2>/dev/null || true
    die "Xvfb did not start"
  fi
  xauth -q -f "$authority" add ":$display_number" . "$cookie"
}

# Starts the watcher that ends the display once no Wine server of the prefix has run for
# display_grace_seconds, and records the display with it. Called once a server runs, so that
# the watcher's first wait is for that server.
watch_display() {
  local watcher
  watcher="$(
    setsid "$script" --prefix "$prefix" --watch-display "$display_pid" \
      </dev/null >/dev/null 2>&1 9>&- &
    echo $!
  )"
  echo "$display_number $display_pid $watcher $(network_namespace)" >"$display_record"
}

# The watcher's loop (--watch-display XVFB_PID). The decision to end the display is taken
# under the prefix's lock, so no wine-run.sh is between choosing the display and starting its
# session then; the grace covers the programs that chose it before and reach the server late.
watch_until_unused() {
  local xvfb=$1 number recorded watcher netns
  while process_runs "$xvfb"; do
    "$wine_server" -w || true
    sleep "$display_grace_seconds"
    exec 9>"$lock_file"
    flock 9
    server_runs || break
    exec 9>&-
  done
  kill "$xvfb" 2>/dev/null || true
  if read -r number recorded watcher netns 2>/dev/null <"$display_record" && [ "$recorded" = "$xvfb" ]; then
    rm -f "$display_record"
  fi
}

if [ "$1" = "--watch-display" ]; then
  [ $# -eq 2 ] || die "--watch-display needs the X server's process id"
  watch_until_unused "$2"
  exit 0
fi

# Everything that sets up shared state runs under one lock per prefix, so that parallel
# tests neither make the prefix twice nor start two displays or sessions. Processes that
# outlive this script must not inherit the lock's descriptor, or they would hold it for good.
exec 9>"$lock_file"
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
display_number=""
if [ -z "${DISPLAY:-}" ]; then
  if display_number="$(recorded_display)"; then
    display_pid=""
  else
    # The display is gone. A session still running was started on it, and can draw nothing
    # more; or on a display its caller named, which is not this one's to end.
    if server_runs; then
      old_number="$(cut -d' ' -f1 "$display_record" 2>/dev/null || true)"
      session_display="$(cat "$session_record" 2>/dev/null || true)"
      if [ -n "$session_display" ] && [ "$session_display" != ":$old_number" ]; then
        die "the Wine session of $prefix runs on display $session_display; set DISPLAY=$session_display or end it with --stop"
      fi
    fi
    stop_prefix
    start_display
  fi
  export DISPLAY=":$display_number" XAUTHORITY="$authority"
fi

# A fresh server is booted by a program of its own: the system processes that Wine starts
# with the first program (services, devices, the desktop) inherit its standard streams and
# keep them open as long as the server lives, and a test runner reading those streams would
# wait that long for the end of every test's output.
fresh_server=false
start_server && fresh_server=true
if [ -n "${display_pid:-}" ]; then
  watch_display
fi
if $fresh_server; then
  echo "$DISPLAY" >"$session_record"
  "$wine_loader" wineboot </dev/null >/dev/null 2>&1 9>&- || die "wineboot failed in $prefix"
else
  session_display="$(cat "$session_record" 2>/dev/null || true)"
  if [ -n "$session_display" ] && [ "$session_display" != "$DISPLAY" ]; then
    die "the Wine session of $prefix runs on display $session_display, not $DISPLAY; end it with --stop"
  fi
fi

exec 9>&-
# A program that starts one of Wine's own processes hands it its standard streams: the
# desktop (explorer.exe /desktop), which Wine starts again for the first window after it has
# ended, lives on after the program. A reader waiting for the end of a pipe, as a test runner
# does, would then wait for as long as the desktop lives. So output bound for a pipe is taken
# into files and passed on once the program has ended; output bound for a file goes there
# directly, as it comes.
if [ -p /dev/stdout ] || [ -p /dev/stderr ]; then
  output="$(mktemp)"
  errors="$(mktemp)"
  "$wine_loader" "$@" <&0 >"$output" 2>"$errors" &
  program=$!
  trap 'kill "$program" 2>/dev/null' TERM INT HUP
  wait "$program" && status=0 || status=$?
  # A trapped signal ends the wait early: wait again for the program's own end.
  while [ "$status" -gt 128 ] && kill -0 "$program" 2>/dev/null; do
    wait "$program" && status=0 || status=$?
  done
  cat "$output"
  cat "$errors" >&2
  rm -f "$output" "$errors"
  exit "$status"
fi
exec "$wine_loader" "$@"
