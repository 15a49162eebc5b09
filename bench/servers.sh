# bench/servers.sh: starting and stopping the three relays one measurement at a time, sourced
# by bench/run.sh: ours (chatroom-server, headless, from a scratch copy), ncat --broker and the
# ceiling (reference-relay), each on its own port; "ceiling-again" is the ceiling once more, a
# fourth relay taking its turn, whose ratios to the ceiling show what the pairing itself can tell.

stop_server() {
  [ -n "$server_pid" ] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

remaining() { echo $((budget - SECONDS)); }
load_average() { cut -d' ' -f1 /proc/loadavg; }

# The pid listening on a TCP port, or nothing.
listener_pid() {
  ss -ltnpH "sport = :$1" 2>/dev/null | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n1
}
# Any socket on the port: a server still closing its connections, or another run's.
port_busy() { [ -n "$(ss -tanH "sport = :$1" 2>/dev/null)" ]; }

# The last server's connections may still be closing, and without a namespace of our own other
# test runs use our fixed port too: wait (bounded) until nothing has been on it for a while
# (checked every quarter of a second: two checks in a namespace of our own, eight outside).
wait_port_free() {
  local port=$1 limit=$(($2 * 4)) waited=0 quiet=0 told="" needed=8
  [ -n "${CHATROOM_BENCH_NETNS:-}" ] && needed=2
  while [ "$quiet" -lt "$needed" ]; do
    if port_busy "$port"; then
      quiet=0
      if [ "$waited" -ge "$limit" ] || [ "$(remaining)" -lt "$measure_time" ]; then
        echo "bench: port $port stayed busy" >&2
        return 1
      fi
      [ -z "$told" ] && told=1 && echo "bench: port $port is in use, waiting" >&2
    else
      quiet=$((quiet + 1))
    fi
    sleep 0.25
    waited=$((waited + 1))
  done
}

port_of() { case $1 in ours* ) echo $ours_port ;; ncat) echo $ncat_port ;; ceiling*) echo $ceiling_port ;; esac; }
# ncat --broker does not send a client's bytes back to it; ours does, and so does the ceiling.
echo_of() { [ "$1" = ncat ] && echo no || echo yes; }

# Starts one server in the background and waits until it is the one listening on its port.
# "ours-robot" is ours with the default word library beside it; "ours-nohistory" is ours with
# the room's history switched off.
start_server() {
  local name=$1 port attempt
  port=$(port_of "$name")
  for attempt in 1 2 3; do
    wait_port_free "$port" 90 || return 1
    case $name in
      ours | ours-robot | ours-nohistory)
        # A copy without reply.ini beside it keeps the robot silent; the value store and the
        # administrator's control socket go to scratch directories. The one line about the
        # missing word library goes to the log.
        local dir="$work/ours"
        rm -rf "$dir" && mkdir -p "$dir/config" && mkdir -m 700 "$dir/run"
        cp "$build/chatroom-server" "$dir/"
        [ "$name" = ours-robot ] && cp data/reply.ini "$dir/"
        local options=()
        [ "$name" = ours-nohistory ] && options=(--history 0)
        (cd "$dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
          XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/run" ./chatroom-server "${options[@]}" >>"$work/ours.log" 2>&1) &
        ;;
      ncat)
        ncat --broker --listen "$host" "$ncat_port" --max-conns 2000 >>"$work/ncat.log" 2>&1 &
        ;;
      ceiling | ceiling-again)
        "$build/bench/reference-relay" --port "$ceiling_port" --echo >>"$work/ceiling.log" 2>&1 &
        ;;
    esac
    server_pid=$!
    local holder=""
    for _ in $(seq 100); do
      holder=$(listener_pid "$port")
      [ "$holder" = "$server_pid" ] && return 0
      [ -n "$holder" ] && break # somebody else got the port first
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "bench: $name did not come up on port $port (attempt $attempt)" >&2
    grep -v -e 'reply.ini' -e '^QStandardPaths' -e 'propagateSizeHints' "$work/${name%-*}.log" 2>/dev/null | tail -n2 >&2 || true
    stop_server
  done
  return 1
}

