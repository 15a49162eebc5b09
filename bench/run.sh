#!/usr/bin/env bash
# bench/run.sh: builds Release, then measures our relay against `ncat --broker` (a real peer) and
# bench/ReferenceRelay.cpp (the ceiling) with bench/LoadGenerator.cpp, for 10, 100 and 500
# clients, and prints one table. Every server is started fresh for each measurement and killed
# on exit; every step has a time limit, and the whole run stays within ten minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh # installs what is missing (ncat among it), and nothing else

readonly budget=600                # seconds for the whole script
readonly host=127.0.0.1
readonly ours_port=19730           # fixed in the program
readonly ncat_port=19731
readonly ceiling_port=19732
readonly senders=10 bytes=64 window=1
readonly rounds=3                  # each measurement is taken this often; the median counts
readonly load_timeout=15           # seconds of load per run; a slower run reports what it did
readonly idle_clients=1000
# The most one measurement can take: 10 s to come up, the load generator's outer limit, 5 s to
# stop. None starts unless this much of the budget is left.
readonly measure_time=$((10 + load_timeout + 30 + 5))
declare -A messages=([10]=5000 [100]=1000 [500]=200)
readonly sizes=(10 100 500)
# Overrides for trying the tools alone: BENCH_SERVERS="ncat ceiling" BENCH_BUILD=/tmp/b bench/run.sh
read -r -a servers <<<"${BENCH_SERVERS:-ours ncat ceiling}"
build=${BENCH_BUILD:-build/release}
work=$(mktemp -d /tmp/chatroom-bench.XXXXXX)
results="$work/results.txt"
server_pid=""

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

# The pid listening on a TCP port, or nothing.
listener_pid() {
  ss -ltnpH "sport = :$1" 2>/dev/null | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n1
}
# Any socket on the port, TIME-WAIT included: our server binds without SO_REUSEADDR, so one left
# by a server that closed first keeps it from listening for a minute.
port_busy() { [ -n "$(ss -tanH "sport = :$1" 2>/dev/null)" ]; }

# Other test runs use our fixed port too, one server after the other: wait (bounded) until
# nothing has been on it for two seconds in a row.
wait_port_free() {
  local port=$1 limit=$2 waited=0 quiet=0 told=""
  while [ "$quiet" -lt 2 ]; do
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
    sleep 1
    waited=$((waited + 1))
  done
}

# Starts one server in the background and waits until it is the one listening on its port.
start_server() {
  local name=$1 port attempt
  case $name in ours) port=$ours_port ;; ncat) port=$ncat_port ;; ceiling) port=$ceiling_port ;; esac
  for attempt in 1 2 3; do
    wait_port_free "$port" 90 || return 1
    case $name in
      ours)
        # A copy without reply.ini beside it keeps the robot silent; the value store goes to a
        # scratch directory. The one line about the missing word library goes to the log.
        local dir="$work/ours"
        rm -rf "$dir" && mkdir -p "$dir/config"
        cp "$build/chatroom-server" "$dir/"
        (cd "$dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
          XDG_CONFIG_HOME="$dir/config" ./chatroom-server >>"$work/ours.log" 2>&1) &
        ;;
      ncat)
        ncat --broker --listen "$host" "$ncat_port" --max-conns 2000 >>"$work/ncat.log" 2>&1 &
        ;;
      ceiling)
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
    grep -v -e 'reply.ini' -e '^QStandardPaths' -e 'propagateSizeHints' "$work/$name.log" 2>/dev/null | tail -n2 >&2 || true
    stop_server
  done
  return 1
}

port_of() { case $1 in ours) echo $ours_port ;; ncat) echo $ncat_port ;; ceiling) echo $ceiling_port ;; esac; }
# ncat --broker does not send a client's bytes back to it; ours does, and so does the ceiling.
echo_of() { [ "$1" = ncat ] && echo no || echo yes; }

# One measurement on a fresh server: appends the load generator's result line to $results.
measure() {
  local name=$1 size=$2 out
  if [ "$(remaining)" -lt "$measure_time" ]; then
    echo "bench: skipping $name at ${size:-idle}, out of time" >&2
    return 0
  fi
  start_server "$name" || { echo "bench: $name could not be started" >&2; return 0; }
  if [ "$size" = idle ]; then
    out=$(timeout 40 "$build/bench/chatroom-load" --host "$host" --port "$(port_of "$name")" \
      --idle-clients "$idle_clients" --server-pid "$server_pid" --label "$name") || true
  else
    out=$(timeout $((load_timeout + 30)) "$build/bench/chatroom-load" --host "$host" \
      --port "$(port_of "$name")" --clients "$size" --senders "$((size < senders ? size : senders))" \
      --messages "${messages[$size]}" --bytes "$bytes" --window "$window" --timeout "$load_timeout" \
      --echo-to-sender "$(echo_of "$name")" --server-pid "$server_pid" --label "$name") || true
  fi
  stop_server
  printf '%s\n' "$out" | grep '^result ' >>"$results" || echo "bench: no result from $name at $size" >&2
  printf '%s\n' "$out" | grep -v '^result ' >&2 || true
}

# A field of a server's result line for a size ("idle" for the memory line). Of the rounds, the
# run with the median rate counts, latencies included.
field() {
  local name=$1 size=$2 key=$3 match lines count
  if [ "$size" = idle ]; then match="server=$name mode=idle"; else match="server=$name clients=$size "; fi
  lines=$(grep -F "result $match" "$results" |
    awk '{ rate = 0; for (i = 1; i <= NF; i++) if ($i ~ /^deliveries_per_s=/) rate = substr($i, 18); print rate, $0 }' |
    sort -n) || true
  count=$(printf '%s\n' "$lines" | grep -c . || true)
  [ "$count" -eq 0 ] && return 0
  printf '%s\n' "$lines" | sed -n "$(((count + 1) / 2))p" | tr ' ' '\n' | sed -n "s/^$key=//p" || true
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2f", a / b }'; }
ms() { awk -v u="$1" 'BEGIN { if (u == "") print "-"; else printf "%.2f", u / 1000 }'; }
rate() {
  local value=$1 complete=$2
  [ -z "$value" ] && { echo "-"; return; }
  awk -v v="$value" -v c="$complete" 'BEGIN { printf "%.0f%s", v, (c == 1 ? "" : "*") }'
}

echo "bench: building Release in $build" >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCHATROOM_TESTS=OFF -DCHATROOM_BENCH=ON >/dev/null
targets=(chatroom-load reference-relay)
[[ " ${servers[*]} " == *" ours "* ]] && targets+=(chatroom-server)
timeout $((budget - 180)) cmake --build "$build" --target "${targets[@]}" -j 2 >&2

: >"$results"
for name in "${servers[@]}"; do
  measure "$name" idle
done
# Servers take turns at each size, so a change in the machine's load hits them alike.
for round in $(seq "$rounds"); do
  for size in "${sizes[@]}"; do
    for name in "${servers[@]}"; do
      echo "bench: round $round of $rounds, $name, N=$size" >&2
      measure "$name" "$size"
    done
  done
done

echo
echo "Relay benchmark, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, $(uname -m), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$senders senders (fewer when N is smaller), $bytes-byte messages, window $window; median of $rounds rounds"
printf '%5s | %11s %8s %8s | %11s %8s %8s | %11s %8s %8s | %9s %12s\n' \
  N "ours del/s" "p50 ms" "p99 ms" "ncat del/s" "p50 ms" "p99 ms" "ceil del/s" "p50 ms" "p99 ms" "ours/ncat" "ours/ceiling"
for size in "${sizes[@]}"; do
  row=("$size")
  for name in ours ncat ceiling; do
    row+=("$(rate "$(field "$name" "$size" deliveries_per_s)" "$(field "$name" "$size" complete)")")
    row+=("$(ms "$(field "$name" "$size" lat_p50_us)")" "$(ms "$(field "$name" "$size" lat_p99_us)")")
  done
  ours=$(field ours "$size" deliveries_per_s)
  row+=("$(ratio "$ours" "$(field ncat "$size" deliveries_per_s)")" "$(ratio "$ours" "$(field ceiling "$size" deliveries_per_s)")")
  printf '%5s | %11s %8s %8s | %11s %8s %8s | %11s %8s %8s | %9s %12s\n' "${row[@]}"
done
echo "ours at N=500 / at N=100: $(ratio "$(field ours 500 deliveries_per_s)" "$(field ours 100 deliveries_per_s)")"
# The relay's own CPU time per delivery: steadier than the rates when the machine is busy.
cpu_ns() {
  awk -v c="$(field "$1" "$2" server_cpu_s)" -v d="$(field "$1" "$2" deliveries)" \
    'BEGIN { if (c == "" || d == "" || d == 0) print "-"; else printf "%.0f\n", c * 1e9 / d }'
}
line="relay CPU ns per delivery at N=$(IFS=/; echo "${sizes[*]}"):"
for name in ours ncat ceiling; do
  line+=" $name $(for size in "${sizes[@]}"; do cpu_ns "$name" "$size"; done | paste -sd/)"
done
echo "$line"
memory() { local v; v=$(field "$1" idle kib_per_client); echo "${v:--} KiB"; }
echo "resident memory per idle client at $idle_clients clients: ours $(memory ours) (ncat $(memory ncat), ceiling $(memory ceiling))"
echo "* = the time limit of ${load_timeout}s ended the run before every receiver had everything; the rate counts what arrived"
mkdir -p "$build/bench"
cp "$results" "$build/bench/results.txt"
echo "raw results: $build/bench/results.txt"
