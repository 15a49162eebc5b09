#!/usr/bin/env bash
# bench/run.sh: builds Release, then measures our relay against `ncat --broker` (a real peer) and
# bench/ReferenceRelay.cpp (the ceiling) with bench/LoadGenerator.cpp, and prints the results as
# the markdown of the README's benchmark section:
#   - the relay load at N = 10 ... 5,000 clients: the fan-out of one message at a time (latency)
#     and ten senders at once (rate, CPU per delivery);
#   - a pair of clients exchanging 20 messages a second while 0, 1 or 10 others never read
#     (latency, ours beside ncat);
#   - the CPU per MiB of text without line ends, our robot on and off;
#   - resident memory per idle client.
# Every server is started fresh for each measurement and killed on exit; every step has a time
# limit, and the whole run stays within fifteen minutes.
#
#   bench/run.sh                   measure, print the table
#   bench/run.sh --update-readme   measure, and put the table into README.md between its markers
#   bench/run.sh --from FILE [--update-readme]   only the table, from the raw results of a run
set -euo pipefail

update_readme=""
from=""
while [ $# -gt 0 ]; do
  case $1 in
    --update-readme) update_readme=1 ;;
    --from) from=$(realpath "${2:?--from needs a results file}"); shift ;;
    *) echo "usage: bench/run.sh [--update-readme] [--from RESULTS]" >&2; exit 2 ;;
  esac
  shift
done
cd "$(dirname "$0")/.."

readonly budget=900                # seconds for the whole script
readonly host=127.0.0.1
readonly ours_port=19730           # fixed in the program
readonly ncat_port=19731
readonly ceiling_port=19732
readonly senders=10 bytes=64 window=1
readonly rounds=${BENCH_ROUNDS:-3} # each measurement is taken this often; the median counts
readonly load_timeout=15           # seconds of load per phase; a slower run reports what it did
readonly idle_clients=1000
read -r -a sizes <<<"${BENCH_SIZES:-10 100 500 2000 5000}"
# Messages per sender of the ten-sender load, and of the one-at-a-time fan-out, per N: about a
# million deliveries, and a few seconds of fan-out, each.
declare -A messages=([10]=5000 [100]=1000 [500]=200 [2000]=50 [5000]=20)
declare -A fanout_messages=([10]=6000 [100]=1000 [500]=400 [2000]=150 [5000]=60)
# ncat --broker keeps its clients in a select() set: it aborts at descriptor 1024 (FD_SETSIZE).
readonly ncat_max_clients=1000
readonly ncat_unable="ncat --broker aborts at its 1,022nd client: it watches them with select(), whose sets end at descriptor 1024 (FD_SETSIZE)"
# The frozen-readers scenario: a pair sending 10 messages of 100 bytes a second each.
readonly pair_rate=10 pair_bytes=100 pair_messages=100
readonly frozen_cases=("0 0" "1 0" "10 0" "10 1048576")
readonly flood_bytes=$((256 * 1024 * 1024))
# ncat listens with a backlog of 10; ours and the ceiling with the system's maximum.
declare -A backlog=([ours]=100 [ncat]=8 [ceiling]=100)
# The most one measurement can take: 10 s to come up, the load generator's outer limit, 5 s to
# stop. None starts unless this much of the budget is left.
readonly load_limit=$((2 * load_timeout + 60))
readonly measure_time=$((10 + load_limit + 5))
# The relay and the load generator share one core (the last one), so that each measurement
# finds the same conditions: on two cores the kernel's merging of small sends (see the table's
# note on segments per delivery) comes and goes with where the scheduler puts the two
# processes, and with it a relay's CPU per delivery by a factor of two. BENCH_PIN=none lets
# the scheduler place them.
pin_cpu=""
if [ "${BENCH_PIN:-one-core}" != none ] && command -v taskset >/dev/null; then
  pin_cpu=$(($(nproc) - 1))
fi
# Overrides for trying the tools alone:
#   BENCH_SERVERS="ncat ceiling" BENCH_SIZES="10 100" BENCH_ROUNDS=1 BENCH_BUILD=/tmp/b bench/run.sh
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
load_average() { cut -d' ' -f1 /proc/loadavg; }

# The pid listening on a TCP port, or nothing.
listener_pid() {
  ss -ltnpH "sport = :$1" 2>/dev/null | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n1
}
# Any socket on the port: a server still closing its connections, or another run's.
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

port_of() { case $1 in ours* ) echo $ours_port ;; ncat) echo $ncat_port ;; ceiling) echo $ceiling_port ;; esac; }
# ncat --broker does not send a client's bytes back to it; ours does, and so does the ceiling.
echo_of() { [ "$1" = ncat ] && echo no || echo yes; }

# Starts one server in the background and waits until it is the one listening on its port.
# "ours-robot" is ours with the default word library beside it.
start_server() {
  local name=$1 port attempt
  port=$(port_of "$name")
  for attempt in 1 2 3; do
    wait_port_free "$port" 90 || return 1
    case $name in
      ours | ours-robot)
        # A copy without reply.ini beside it keeps the robot silent; the value store goes to a
        # scratch directory. The one line about the missing word library goes to the log.
        local dir="$work/ours"
        rm -rf "$dir" && mkdir -p "$dir/config"
        cp "$build/chatroom-server" "$dir/"
        [ "$name" = ours-robot ] && cp data/reply.ini "$dir/"
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
    grep -v -e 'reply.ini' -e '^QStandardPaths' -e 'propagateSizeHints' "$work/${name%-robot}.log" 2>/dev/null | tail -n2 >&2 || true
    stop_server
  done
  return 1
}

# One measurement on a fresh server: the load generator with the given options; its result
# lines go to $results, with the load average of the moment.
measure() {
  local name=$1 out
  shift
  if [ "$(remaining)" -lt "$measure_time" ]; then
    echo "bench: skipping $name $*, out of time" >&2
    return 0
  fi
  start_server "$name" || { echo "bench: $name could not be started" >&2; return 0; }
  local pin=()
  if [ -n "$pin_cpu" ] && [ -z "${unpinned:-}" ]; then
    taskset -a -p -c "$pin_cpu" "$server_pid" >/dev/null
    pin=(taskset -c "$pin_cpu")
  fi
  out=$(timeout "$load_limit" "${pin[@]}" "$build/bench/chatroom-load" --host "$host" --port "$(port_of "$name")" \
    --server-pid "$server_pid" --label "$name" --listen-backlog "${backlog[${name%-robot}]}" "$@") || true
  stop_server
  printf '%s\n' "$out" | grep '^result ' | sed "s/\$/ round=${round:-1} loadavg=$(load_average)/" >>"$results" ||
    echo "bench: no result from $name $*" >&2
  printf '%s\n' "$out" | grep -v '^result ' >&2 || true
}

# --- reading the results ----------------------------------------------------------------------

# The median over the rounds of one key among the result lines that have every given key=value.
#   median KEY key=value...
median() {
  local key=$1
  shift
  awk -v key="$key" -v want="$*" '
    BEGIN { n = split(want, w, " ") }
    $1 == "result" {
      for (i = 1; i <= n; i++) { found = 0; for (j = 2; j <= NF; j++) if ($j == w[i]) found = 1; if (!found) next }
      for (j = 2; j <= NF; j++) if (index($j, key "=") == 1) v[++count] = substr($j, length(key) + 2)
    }
    END {
      if (!count) exit
      for (i = 1; i <= count; i++) for (j = i + 1; j <= count; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
      print v[int((count + 1) / 2)]
    }' "$results"
}
# The median over the rounds of one figure of A's lines divided by the same figure of B's lines
# in the same round: the lines of a round were measured one after the other, so a change in
# the machine's load over the run hits both alike. Each side is a set of key=value filters;
# the figure "cpu_ns" is the relay's CPU time per delivery. "-" when no round has both.
#   paired_ratio KEY "FILTERS_A" "FILTERS_B"
paired_ratio() {
  awk -v key="$1" -v wanta="$2" -v wantb="$3" '
    function matches(want,   n, w, i, j, found) {
      n = split(want, w, " ")
      for (i = 1; i <= n; i++) { found = 0; for (j = 2; j <= NF; j++) if ($j == w[i]) found = 1; if (!found) return 0 }
      return 1
    }
    function field(name,   j) {
      for (j = 2; j <= NF; j++) if (index($j, name "=") == 1) return substr($j, length(name) + 2)
      return ""
    }
    function figure(   cpu, deliveries) {
      if (key != "cpu_ns") return field(key)
      cpu = field("server_cpu_s"); deliveries = field("deliveries")
      return deliveries > 0 ? cpu * 1e9 / deliveries : ""
    }
    $1 == "result" {
      round = field("round")
      if (matches(wanta)) a[round] = figure()
      else if (matches(wantb)) b[round] = figure()
    }
    END {
      for (round in a) if ((round in b) && a[round] != "" && b[round] != "" && a[round] >= 0 && b[round] > 0) v[++count] = a[round] / b[round]
      if (!count) { print "-"; exit }
      for (i = 1; i <= count; i++) for (j = i + 1; j <= count; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      printf "%.2f", v[int((count + 1) / 2)]
    }' "$results"
}
# The median, or "-" when there is none.
figure() {
  local value
  value=$(median "$@")
  echo "${value:--}"
}
# Figures for the table; "-" when there is none.
ms() { awk -v u="$1" 'BEGIN { if (u == "") print "-"; else if (u < 0) print "lost"; else if (u < 10000) printf "%.2f", u / 1000; else printf "%.0f", u / 1000 }'; }
thousands() { awk -v v="$1" 'BEGIN { if (v == "") { print "-"; exit } s = sprintf("%.0f", v); while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s); print s }'; }
# The relay's CPU ns per delivery over one phase.
cpu_ns() {
  local cpu deliveries
  cpu=$(median server_cpu_s "$@")
  deliveries=$(median deliveries "$@")
  awk -v c="$cpu" -v d="$deliveries" 'BEGIN { if (c == "" || d == "" || d == 0) print ""; else printf "%.0f", c * 1e9 / d }'
}
# "met" or "missed" for a figure against its limit (both may be "-").
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { if (v == "-" || v == "") print "not measured"; else if (v + 0 <= l + 0) print "met"; else print "missed" }'; }
worst() { printf '%s\n' "$@" | grep -v '^-$' | sort -g | tail -n1; }

has_ncat() { [ "$1" -le "$ncat_max_clients" ]; }

print_table() {
  local size name worst_cpu="" worst_fan_cpu="" worst_p50="" worst_ncat=""
  echo "Results of \`bench/run.sh\` on $(cat "$work/when"); load average at the start $(cat "$work/load_start"), at the end $(cat "$work/load_end"). $(cat "$work/placement") Figures are the median of $rounds rounds, in which the servers take turns; a ratio is the median of the rounds' own ratios."
  echo
  echo "**Relay load.** Ten senders (fewer when N is smaller), one 64-byte message in flight each: deliveries per second (messages × receivers ÷ wall time), the relay's CPU time per delivery, TCP segments sent per delivery (data and acknowledgements; below 1 when the kernel merged sends²), the latency to the last receiver."
  echo
  echo "| N | ours del/s | ncat del/s | ceiling del/s | ours ÷ ceiling, rate | CPU ns per delivery, ours / ncat / ceiling | ours ÷ ceiling, CPU | segments per delivery, ours / ncat / ceiling | ours p50 / p99 ms |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for size in "${sizes[@]}"; do
    local rate_ours rate_ncat rate_ceiling cpu_ours cpu_ncat cpu_ceiling cpu_ratio segments
    rate_ours=$(median deliveries_per_s server=ours phase=load "clients=$size")
    rate_ncat=$(median deliveries_per_s server=ncat phase=load "clients=$size")
    rate_ceiling=$(median deliveries_per_s server=ceiling phase=load "clients=$size")
    cpu_ours=$(cpu_ns server=ours phase=load "clients=$size")
    cpu_ncat=$(cpu_ns server=ncat phase=load "clients=$size")
    cpu_ceiling=$(cpu_ns server=ceiling phase=load "clients=$size")
    cpu_ratio=$(paired_ratio cpu_ns "server=ours phase=load clients=$size" "server=ceiling phase=load clients=$size")
    worst_cpu=$(worst "$worst_cpu" "$cpu_ratio")
    rate_ncat=$(thousands "$rate_ncat")
    segments=""
    for name in ours ncat ceiling; do
      segments+="${segments:+ / }$(figure segments_per_delivery "server=$name" phase=load "clients=$size")"
    done
    has_ncat "$size" || { rate_ncat="unable¹"; cpu_ncat="unable¹"; segments=$(echo "$segments" | sed 's| / - / | / unable¹ / |'); }
    echo "| $(thousands "$size") | $(thousands "$rate_ours") | $rate_ncat | $(thousands "$rate_ceiling") | $(paired_ratio deliveries_per_s "server=ours phase=load clients=$size" "server=ceiling phase=load clients=$size") | ${cpu_ours:--} / ${cpu_ncat:--} / ${cpu_ceiling:--} | $cpu_ratio | $segments | $(ms "$(median lat_p50_us server=ours phase=load "clients=$size")") / $(ms "$(median lat_p99_us server=ours phase=load "clients=$size")") |"
  done
  echo
  echo "**Fan-out.** One message in flight: client 0 sends the next 64-byte message only when the last one has reached every client; latency to the last receiver."
  echo
  echo "| N | p50 ms, ours / ncat / ceiling | p99 ms, ours / ncat / ceiling | ours ÷ ceiling, p50 / p99 | ours ÷ ncat, p50 / p99 | CPU ns per delivery, ours / ceiling | ours ÷ ceiling, CPU |"
  echo "|---|---|---|---|---|---|---|"
  for size in "${sizes[@]}"; do
    local ratio50 ratio99 ncat50="" ncat99="" vs_ncat
    local -A p50 p99
    for name in ours ncat ceiling; do
      p50[$name]=$(median lat_p50_us "server=$name" phase=fanout "clients=$size")
      p99[$name]=$(median lat_p99_us "server=$name" phase=fanout "clients=$size")
    done
    ratio50=$(paired_ratio lat_p50_us "server=ours phase=fanout clients=$size" "server=ceiling phase=fanout clients=$size")
    ratio99=$(paired_ratio lat_p99_us "server=ours phase=fanout clients=$size" "server=ceiling phase=fanout clients=$size")
    worst_p50=$(worst "$worst_p50" "$ratio50" "$ratio99")
    if has_ncat "$size"; then
      ncat50=$(ms "${p50[ncat]}")
      ncat99=$(ms "${p99[ncat]}")
      local ncat_ratio50 ncat_ratio99
      ncat_ratio50=$(paired_ratio lat_p50_us "server=ours phase=fanout clients=$size" "server=ncat phase=fanout clients=$size")
      ncat_ratio99=$(paired_ratio lat_p99_us "server=ours phase=fanout clients=$size" "server=ncat phase=fanout clients=$size")
      vs_ncat="$ncat_ratio50 / $ncat_ratio99"
      worst_ncat=$(worst "$worst_ncat" "$ncat_ratio50" "$ncat_ratio99")
    else
      ncat50="unable¹" ncat99="unable¹" vs_ncat="-"
    fi
    local fan_ours fan_ceiling
    fan_ours=$(cpu_ns server=ours phase=fanout "clients=$size")
    fan_ceiling=$(cpu_ns server=ceiling phase=fanout "clients=$size")
    local fan_ratio
    fan_ratio=$(paired_ratio cpu_ns "server=ours phase=fanout clients=$size" "server=ceiling phase=fanout clients=$size")
    worst_fan_cpu=$(worst "$worst_fan_cpu" "$fan_ratio")
    echo "| $(thousands "$size") | $(ms "${p50[ours]}") / $ncat50 / $(ms "${p50[ceiling]}") | $(ms "${p99[ours]}") / $ncat99 / $(ms "${p99[ceiling]}") | $ratio50 / $ratio99 | $vs_ncat | ${fan_ours:--} / ${fan_ceiling:--} | $fan_ratio |"
  done
  echo
  echo "¹ $ncat_unable."
  echo
  echo "² Ours writes everything a round of ready senders has for a client in one send (see \"Delivery to slow clients\" in the README), so it merges messages itself. For the others: a relay that sends a client its next small message before the client has acknowledged the last one has it held back and merged with the next (Nagle's rule, on for all three relays), which costs far less per delivery. How often that happens depends on how far the relay runs ahead of the load generator's acknowledgements: on two cores it comes and goes with where the scheduler puts the two processes (hence the shared core); on one core a relay that falls behind at the start stays behind, since unmerged sends cost several times more, and from N = 2,000 on that decides the round. So the CPU per delivery under the ten-sender load follows the segments per delivery as much as the relay's own work. With one message in flight (below) every delivery is its own segment for every relay: that CPU per delivery compares the relays' work like for like. The segments are counted over the whole network namespace, so they mean something on a quiet machine or in a namespace of its own."
  echo
  echo "**Clients that never read.** A pair of clients sends $((2 * pair_rate)) messages of $pair_bytes bytes a second in all ($((2 * pair_messages)) messages), while K more clients with 4 KiB receive buffers never read (in the last row each also sends 1 MiB of text, which everybody is sent); latency of a message to the last of its receivers. \"lost\": more messages than that percentile never arrived."
  echo
  echo "| clients that never read | ours p50 / p99 ms | ncat p50 / p99 ms |"
  echo "|---|---|---|"
  local case frozen flood label
  for case in "${frozen_cases[@]}"; do
    read -r frozen flood <<<"$case"
    label=$frozen
    [ "$flood" != 0 ] && label="$frozen, each sending 1 MiB"
    echo "| $label | $(ms "$(median lat_p50_us server=ours phase=rate "frozen=$frozen" "flood_bytes=$flood")") / $(ms "$(median lat_p99_us server=ours phase=rate "frozen=$frozen" "flood_bytes=$flood")") | $(ms "$(median lat_p50_us server=ncat phase=rate "frozen=$frozen" "flood_bytes=$flood")") / $(ms "$(median lat_p99_us server=ncat phase=rate "frozen=$frozen" "flood_bytes=$flood")") |"
  done
  local frozen_ratio robot_on robot_off robot_ratio memory
  frozen_ratio=$(paired_ratio lat_p99_us "server=ours phase=rate frozen=10 flood_bytes=0" "server=ours phase=rate frozen=0 flood_bytes=0")
  robot_on=$(median cpu_ms_per_mib server=ours-robot phase=flood)
  robot_off=$(median cpu_ms_per_mib server=ours phase=flood)
  robot_ratio=$(paired_ratio cpu_ms_per_mib "server=ours-robot phase=flood" "server=ours phase=flood")
  memory=$(median kib_per_client server=ours phase=idle)
  echo
  echo "**Text without line ends.** One client sends $((flood_bytes / 1024 / 1024)) MiB of text without a line end and reads it back: our relay's CPU per MiB is ${robot_on:--} ms with the robot on (the default word library beside the program), ${robot_off:--} ms with it off (no reply.ini)."
  echo
  echo "**Memory.** Resident memory per idle client, from the $((idle_clients / 2))th to the ${idle_clients}th idle client: ours ${memory:--} KiB, ncat $(figure kib_per_client server=ncat phase=idle) KiB, ceiling $(figure kib_per_client server=ceiling phase=idle) KiB. Counted from a fresh relay instead (which adds what the first connections page in once, such as code): ours $(figure kib_per_client_from_start server=ours phase=idle) KiB, ncat $(figure kib_per_client_from_start server=ncat phase=idle) KiB, ceiling $(figure kib_per_client_from_start server=ceiling phase=idle) KiB. Kernel socket buffers are not included."
  echo
  echo "**Targets.**"
  echo
  echo "| target | measured | |"
  echo "|---|---|---|"
  echo "| relay CPU per delivery ≤ 1.1 × the ceiling's, every N, ten senders | worst ${worst_cpu:--} × | $(verdict "${worst_cpu:--}" 1.1) |"
  echo "| relay CPU per delivery ≤ 1.1 × the ceiling's, every N, one message in flight | worst ${worst_fan_cpu:--} × | $(verdict "${worst_fan_cpu:--}" 1.1) |"
  echo "| fan-out p50 and p99 ≤ 1.1 × the ceiling's, every N | worst ${worst_p50:--} × | $(verdict "${worst_p50:--}" 1.1) |"
  echo "| fan-out p50 and p99 ≤ ncat's, where ncat runs | worst ${worst_ncat:--} × | $(verdict "${worst_ncat:--}" 1) |"
  echo "| the pair's p99 with 10 clients that never read ≤ 2 × with none | $frozen_ratio × | $(verdict "$frozen_ratio" 2) |"
  echo "| CPU per MiB, robot on ≤ 2 × robot off | $robot_ratio × | $(verdict "$robot_ratio" 2) |"
  echo "| resident memory per idle client ≤ 1 KiB | ${memory:--} KiB | $(verdict "${memory:--}" 1) |"
}

# The README's benchmark table lives between these two lines.
readonly readme_begin='<!-- bench/run.sh table begin -->'
readonly readme_end='<!-- bench/run.sh table end -->'
update_readme_table() {
  local table=$1
  grep -qF "$readme_begin" README.md && grep -qF "$readme_end" README.md ||
    { echo "bench: README.md has no table markers" >&2; return 1; }
  awk -v begin="$readme_begin" -v end="$readme_end" -v table="$table" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }' README.md >"$work/README.md"
  cp "$work/README.md" README.md
  echo "bench: README.md's table updated" >&2
}

# --- the run ------------------------------------------------------------------------------------

if [ -n "$from" ]; then
  cp "$from" "$results"
  sed -n 's/^# when=//p' "$results" >"$work/when"
  sed -n 's/^# load_start=//p' "$results" >"$work/load_start"
  sed -n 's/^# load_end=//p' "$results" >"$work/load_end"
  sed -n 's/^# placement=//p' "$results" >"$work/placement"
else
  source scripts/setup.sh # installs what is missing (ncat among it), and nothing else
  echo "bench: building Release in $build" >&2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCHATROOM_TESTS=OFF -DCHATROOM_BENCH=ON >/dev/null
  targets=(chatroom-load reference-relay)
  [[ " ${servers[*]} " == *" ours "* ]] && targets+=(chatroom-server)
  timeout $((budget - 600)) cmake --build "$build" --target "${targets[@]}" -j 2 >&2

  : >"$results"
  echo "$(date '+%Y-%m-%d %H:%M'), $(nproc) cores, $(uname -m)" >"$work/when"
  if [ -n "$pin_cpu" ]; then
    echo "Each relay and the load generator share one core (CPU $pin_cpu), except with the clients that never read." >"$work/placement"
  else
    echo "The scheduler places the relays and the load generator." >"$work/placement"
  fi
  load_average >"$work/load_start"
  for name in "${servers[@]}"; do
    measure "$name" --idle-clients "$idle_clients"
  done
  for round in $(seq "$rounds"); do
    # Servers take turns at each size, so a change in the machine's load hits them alike.
    for size in "${sizes[@]}"; do
      for name in "${servers[@]}"; do
        [ "$name" = ncat ] && ! has_ncat "$size" && continue
        echo "bench: round $round of $rounds, $name, N=$size (load average $(load_average))" >&2
        measure "$name" --clients "$size" --senders "$((size < senders ? size : senders))" \
          --messages "${messages[$size]}" --fanout-messages "${fanout_messages[$size]}" --bytes "$bytes" \
          --window "$window" --timeout "$load_timeout" --echo-to-sender "$(echo_of "$name")"
      done
    done
    if [[ " ${servers[*]} " == *" ours "* ]]; then
      for name in ours-robot ours; do
        echo "bench: round $round of $rounds, $name, $((flood_bytes / 1024 / 1024)) MiB without line ends" >&2
        measure "$name" --clients 1 --flood-bytes "$flood_bytes" --timeout "$load_timeout"
      done
    fi
  done
  # The clients that never read: a question of stalls rather than of CPU, so the scheduler
  # places the processes (on one core the eleven clients' floods would queue behind each other).
  unpinned=1
  for round in $(seq "$rounds"); do
    for case in "${frozen_cases[@]}"; do
      read -r frozen flood <<<"$case"
      for name in "${servers[@]}"; do
        [ "$name" = ceiling ] && continue
        echo "bench: round $round of $rounds, $name, a pair and $frozen clients that never read (flood $flood) (load average $(load_average))" >&2
        measure "$name" --clients 2 --senders 2 --rate "$pair_rate" --messages "$pair_messages" --bytes "$pair_bytes" \
          --frozen "$frozen" --flood-bytes "$flood" --timeout $((pair_messages / pair_rate + 10)) --echo-to-sender "$(echo_of "$name")"
      done
    done
  done
  unpinned=""
  load_average >"$work/load_end"
  {
    echo "# when=$(cat "$work/when")"
    echo "# load_start=$(cat "$work/load_start")"
    echo "# load_end=$(cat "$work/load_end")"
    echo "# placement=$(cat "$work/placement")"
  } >>"$results"
  mkdir -p "$build/bench"
  cp "$results" "$build/bench/results.txt"
  echo "bench: raw results in $build/bench/results.txt; the run took $SECONDS s" >&2
fi

print_table >"$work/table.md"
mkdir -p "$build/bench"
cp "$work/table.md" "$build/bench/table.md"
cat "$work/table.md"
[ -n "$update_readme" ] && update_readme_table "$work/table.md"
exit 0
