#!/usr/bin/env bash
# bench/run.sh: builds Release, then measures our relay against `ncat --broker` (a real peer) and
# bench/ReferenceRelay.cpp (the ceiling) with the load generator (bench/LoadMain.cpp), and prints
# the results as the markdown of the benchmark page docs/benchmark.md (bench/table.sh), with a picture
# of the fan-out against N (bench/plot.sh):
#   - the fan-out of one message at a time (latency, CPU per delivery) and ten senders at once
#     (rate, CPU per delivery) at N = 10 ... 10,000 clients;
#   - how long one leave, kick or quiet room's first line holds a room of 1,000 and 5,000;
#   - a pair of clients exchanging 20 messages a second while 0 ... 1,000 others never read,
#     ten of them flooding;
#   - the CPU per MiB of text without line ends, our robot on and off;
#   - resident memory per idle client;
#   - a room of 100 and 1,000 of which half are WebSocket clients of the web entrance, against
#     the same room all TCP (fan-out CPU per delivery), and idle WebSocket against idle TCP clients;
#   - the same half-web room with the room's history on (the default) and off (--history 0).
# Every measurement is taken in five rounds; a target counts as met only when its worst round
# meets it. Every server is started fresh for each measurement and killed on exit; every step
# has a time limit. The measurements run in a network namespace of their own where one can be
# made (as root), so that nothing else on the machine shares their port or their TCP counters.
#
#   bench/run.sh                   measure, print the table (45 minutes or less)
#   bench/run.sh --update-readme   measure, and put the table into docs/benchmark.md between the markers
#                                  of its placement, and the picture into docs/
#   bench/run.sh --from FILE [--update-readme]   only the table and picture, from a run's results
#   BENCH_PIN=none bench/run.sh    the scheduler places the relays and the load generator
set -euo pipefail

args=("$@")
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

readonly budget=${BENCH_BUDGET:-3600} # seconds for the measurements; a round that would not fit is cut short
readonly host=127.0.0.1
readonly ours_port=19730 # fixed in the program
readonly ncat_port=19733 # 19731 is our relay's web entrance
readonly ceiling_port=19732
readonly senders=10 bytes=64 window=1
rounds_planned=${BENCH_ROUNDS:-5}
readonly load_timeout=15 # seconds of load per phase; a slower run reports what it did
readonly idle_clients=1000
read -r -a sizes <<<"${BENCH_SIZES:-10 100 500 2000 5000 10000}"
read -r -a event_sizes <<<"${BENCH_EVENT_SIZES:-1000 5000}"
read -r -a web_sizes <<<"${BENCH_WEB_SIZES:-100 1000}"
readonly web_load_messages=20 # the web row reads only the fan-out; the ten-sender load after it is kept short
readonly event_count=5 event_pause_ms=1000
# A small room's measurement is taken as three trials, each on a fresh relay, the relays taking
# turns trial by trial, and a round's figure is the median of its trials: a fresh process on
# this kind of machine runs at one of two speeds a tenth or more apart for its whole life (the
# ceiling as much as ours; why, the machine does not show), so one process per relay would pair
# a fast one with a slow one in some rounds, and the worst round would show the machine instead
# of the relay. A big room's measurement is long already, mostly connecting its clients, and is
# taken once.
declare -A trials=([10]=3 [100]=3 [500]=3)
# Messages per sender of the ten-sender load, and of the one-at-a-time fan-out, per N and
# trial: about a million deliveries, and three to eight seconds of fan-out, each, over a
# round's trials: the p99 of a small room's fan-out stands on the slowest hundredth of its
# messages, which a shorter run leaves to a few of the scheduler's hiccups.
declare -A messages=([10]=1700 [100]=340 [500]=70 [2000]=50 [5000]=20 [10000]=5)
declare -A fanout_messages=([10]=10000 [100]=1700 [500]=340 [2000]=300 [5000]=60 [10000]=40)
# ncat --broker keeps its clients in a select() set: it aborts at descriptor 1024 (FD_SETSIZE).
readonly ncat_max_clients=1000
readonly ncat_unable="ncat --broker aborts at its 1,022nd client: it watches them with select(), whose sets end at descriptor 1024 (FD_SETSIZE)"
# The clients that never read: a pair sending 10 messages of 100 bytes a second each, beside
# "K FLOOD FLOODERS": K clients that never read, the first FLOODERS of which send FLOOD bytes
# of text each.
readonly pair_rate=10 pair_bytes=100 pair_messages=100
readonly big_frozen=1000 big_flooders=10 flood_row_bytes=1048576
readonly frozen_cases=("0 0 0" "1 0 0" "10 0 0" "10 $flood_row_bytes 10" "$big_frozen $flood_row_bytes $big_flooders")
readonly flood_bytes=$((256 * 1024 * 1024))
# ncat listens with a backlog of 10; ours and the ceiling with the system's maximum.
declare -A backlog=([ours]=100 [ncat]=8 [ceiling]=100)
# The most one measurement can take: 10 s to come up, the load generator's outer limit, 5 s to
# stop. None starts unless this much of the budget is left.
readonly load_limit=$((2 * load_timeout + 60))
readonly measure_time=$((10 + load_limit + 5))
# Overrides for trying the tools alone:
#   BENCH_SERVERS="ncat ceiling" BENCH_SIZES="10 100" BENCH_ROUNDS=1 BENCH_BUILD=/tmp/b bench/run.sh
#   BENCH_PARTS="fanout events" (of: fanout events text memory frozen web) measures only those parts
# "ceiling-again" measures the ceiling a second time in every turn of the fan-out, for the table
# of what the pairing itself can tell (ratios of the ceiling to itself).
read -r -a servers <<<"${BENCH_SERVERS:-ours ncat ceiling ceiling-again}"
read -r -a parts <<<"${BENCH_PARTS:-fanout events text memory frozen web history}"
build=${BENCH_BUILD:-build/release}

has_ncat() { [ "$1" -le "$ncat_max_clients" ]; }
frozen_has_ncat() { [ "$1" -lt "$big_frozen" ]; }
has_server() { [[ " ${servers[*]} " == *" $1 "* ]]; }
has_part() { [[ " ${parts[*]} " == *" $1 "* ]]; }

# The relay and the load generator share one core (the last one), so that each measurement
# finds the same conditions: on two cores the kernel's merging of small sends (the table's
# note on segments per delivery) comes and goes with where the scheduler puts the two
# processes, and with it a relay's CPU per delivery by a factor of two. BENCH_PIN=none lets
# the scheduler place them; the table and the picture say which it was.
pin_cpu=""
if [ "${BENCH_PIN:-one-core}" != none ] && command -v taskset >/dev/null; then
  pin_cpu=$(($(nproc) - 1))
fi
if [ -n "$pin_cpu" ]; then
  placement_name="shared core"
  plot_file=docs/bench-fanout-shared-core.svg
else
  placement_name="BENCH_PIN=none"
  plot_file=docs/bench-fanout-unpinned.svg
fi

# --- before measuring: packages, the build, the namespace ---------------------------------------

if [ -z "$from" ] && [ -z "${CHATROOM_BENCH_NETNS:-}" ]; then
  source scripts/setup.sh # installs what is missing (ncat among it), and nothing else
  chatroom_install gnuplot-nox iproute2
  echo "bench: building Release in $build" >&2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCHATROOM_TESTS=OFF -DCHATROOM_BENCH=ON >/dev/null
  targets=(chatroom-load reference-relay)
  has_server ours && targets+=(chatroom-server)
  timeout 900 cmake --build "$build" --target "${targets[@]}" -j 2 >&2
  if unshare -n sh -c 'ip link set lo up' 2>/dev/null; then
    exec unshare -n env CHATROOM_BENCH_NETNS=1 bash -c 'ip link set lo up && exec bash "$0" "$@"' bench/run.sh "${args[@]}"
  fi
  echo "bench: no network namespace of our own (not root?): measuring on the machine's loopback" >&2
fi

# N = 10,000 needs that many descriptors in the relay and in the load generator each.
needed_files=$((2 * $(printf '%s\n' "${sizes[@]}" "${event_sizes[@]}" "$idle_clients" "$((big_frozen + 20))" | sort -n | tail -n1) + 100))
[ "$(ulimit -Hn)" != unlimited ] && [ "$(ulimit -Hn)" -lt "$needed_files" ] && { ulimit -Hn "$needed_files" 2>/dev/null || true; }
ulimit -Sn "$(ulimit -Hn)"

work=$(mktemp -d /tmp/chatroom-bench.XXXXXX)
results="$work/results.txt"
server_pid=""
source bench/servers.sh
source bench/table.sh
source bench/table-web.sh
source bench/plot.sh

# One measurement on a fresh server: the load generator with the given options; its result
# lines go to $results, with the round and the load average of the moment.
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
    --server-pid "$server_pid" --label "$name" --listen-backlog "${backlog[${name%-*}]}" "$@") || true
  stop_server
  printf '%s\n' "$out" | grep '^result ' | sed "s/\$/ round=${round:-1} trial=${trial:-1} loadavg=$(load_average)/" >>"$results" ||
    echo "bench: no result from $name $*" >&2
  printf '%s\n' "$out" | grep -v '^result ' >&2 || true
}

# The benchmark's page (docs/benchmark.md; the README has a summary and a link) holds one table
# per placement between these lines.
readonly bench_page=docs/benchmark.md
update_readme_table() {
  local table=$1 begin="<!-- bench/run.sh table begin: $placement_name -->" end="<!-- bench/run.sh table end: $placement_name -->"
  grep -qF "$begin" "$bench_page" && grep -qF "$end" "$bench_page" ||
    { echo "bench: $bench_page has no table markers for $placement_name" >&2; return 1; }
  awk -v begin="$begin" -v end="$end" -v table="$table" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }' "$bench_page" >"$work/benchmark.md"
  cp "$work/benchmark.md" "$bench_page"
  [ -f "$work/plot.svg" ] && mkdir -p docs && cp "$work/plot.svg" "$plot_file"
  echo "bench: $bench_page's table for $placement_name updated, and $plot_file" >&2
}

# --- the run ------------------------------------------------------------------------------------

if [ -n "$from" ]; then
  cp "$from" "$results"
  for item in when load_start load_end placement placement_short; do
    sed -n "s/^# $item=//p" "$results" >"$work/$item"
  done
  # What the run measured, rather than what this script would measure (the results of an
  # unfinished run have no such lines).
  grep -q '^# sizes=' "$results" && read -r -a sizes <<<"$(sed -n 's/^# sizes=//p' "$results")"
  grep -q '^# event_sizes=' "$results" && read -r -a event_sizes <<<"$(sed -n 's/^# event_sizes=//p' "$results")"
  grep -q '^# web_sizes=' "$results" && read -r -a web_sizes <<<"$(sed -n 's/^# web_sizes=//p' "$results")"
  grep -q '^# rounds=' "$results" && rounds_planned=$(sed -n 's/^# rounds=//p' "$results")
  grep -q 'placement=.*share one core' "$results" || { placement_name="BENCH_PIN=none"; plot_file=docs/bench-fanout-unpinned.svg; }
else
  : >"$results"
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m)" >"$work/when"
  if [ -n "$pin_cpu" ]; then
    echo "each relay and the load generator share one core (CPU $pin_cpu), except with the clients that never read." >"$work/placement"
    echo "shared core (CPU $pin_cpu)" >"$work/placement_short"
  else
    echo "BENCH_PIN=none: the scheduler places the relays and the load generator." >"$work/placement"
    echo "BENCH_PIN=none" >"$work/placement_short"
  fi
  load_average >"$work/load_start"
  for name in ncat ceiling; do
    has_part memory && has_server "$name" && round=1 measure "$name" --idle-clients "$idle_clients"
  done
  for round in $(seq "$rounds_planned"); do
    # Servers take turns at each size, so a change in the machine's load hits them alike, and
    # every other trial in the reverse order, so that going first favours none of them.
    for size in "${sizes[@]}"; do
      has_part fanout || continue
      for trial in $(seq "${trials[$size]:-1}"); do
        turns=("${servers[@]}")
        [ $(((round + trial) % 2)) = 1 ] && mapfile -t turns < <(printf '%s\n' "${servers[@]}" | tac)
        for name in "${turns[@]}"; do
          [ "$name" = ncat ] && ! has_ncat "$size" && continue
          echo "bench: round $round of $rounds_planned, trial $trial, $name, N=$size (load average $(load_average), $(remaining) s left)" >&2
          measure "$name" --clients "$size" --senders "$((size < senders ? size : senders))" \
            --messages "${messages[$size]:-$((500000 / size + 10))}" --fanout-messages "${fanout_messages[$size]:-$((300000 / size + 30))}" \
            --bytes "$bytes" --window "$window" --timeout "$load_timeout" --echo-to-sender "$(echo_of "$name")"
        done
      done
      trial=""
    done
    if has_server ours; then
      for size in "${event_sizes[@]}"; do
        has_part events || continue
        echo "bench: round $round of $rounds_planned, ours, events in a room of $size" >&2
        measure ours --clients "$size" --events "$event_count" --pause-ms "$event_pause_ms" --bytes "$bytes" \
          --timeout "$load_timeout" --control-socket "$work/ours/run/chatroom-server/control.sock"
      done
      for name in ours-robot ours; do
        has_part text || continue
        echo "bench: round $round of $rounds_planned, $name, $((flood_bytes / 1024 / 1024)) MiB without line ends" >&2
        measure "$name" --clients 1 --flood-bytes "$flood_bytes" --timeout "$load_timeout"
      done
      has_part memory && measure ours --idle-clients "$idle_clients"
      # Half the room on the web entrance against the same room all TCP, and idle web clients.
      for size in "${web_sizes[@]}"; do
        has_part web || continue
        for kind in web tcp; do
          echo "bench: round $round of $rounds_planned, ours, N=$size, $kind" >&2
          measure ours --clients "$size" --senders "$((size < senders ? size : senders))" \
            --messages "$web_load_messages" --fanout-messages "${fanout_messages[$size]:-$((300000 / size + 30))}" \
            --bytes "$bytes" --window "$window" --timeout "$load_timeout" --echo-to-sender "$(echo_of ours)" \
            --web-clients "$([ "$kind" = web ] && echo $((size / 2)) || echo 0)" --label "ours-$kind"
        done
      done
      # The history's cost: the half-web room with it on and off.
      for size in "${web_sizes[@]}"; do
        has_part history || continue
        for name in ours ours-nohistory; do
          echo "bench: round $round of $rounds_planned, $name, N=$size, history" >&2
          measure "$name" --clients "$size" --senders "$((size < senders ? size : senders))" \
            --messages "$web_load_messages" --fanout-messages "${fanout_messages[$size]:-$((300000 / size + 30))}" \
            --bytes "$bytes" --window "$window" --timeout "$load_timeout" --echo-to-sender "$(echo_of ours)" \
            --web-clients "$((size / 2))" --label "$([ "$name" = ours ] && echo history-on || echo history-off)"
        done
      done
      if has_part web; then
        measure ours --idle-clients "$idle_clients" --web-clients "$idle_clients" --label ours-web
        measure ours --idle-clients "$idle_clients" --label ours-tcp
      fi
    fi
    # The clients that never read: a question of stalls rather than of CPU, so the scheduler
    # places the processes (on one core the clients' floods would queue behind each other).
    unpinned=1
    for case in "${frozen_cases[@]}"; do
      has_part frozen || continue
      read -r frozen flood flooders <<<"$case"
      for name in "${servers[@]}"; do
        [[ "$name" == ceiling* ]] && continue
        [ "$name" = ncat ] && ! frozen_has_ncat "$frozen" && continue
        echo "bench: round $round of $rounds_planned, $name, a pair and $frozen clients that never read (flood $flood, $flooders flooders)" >&2
        measure "$name" --clients 2 --senders 2 --rate "$pair_rate" --messages "$pair_messages" --bytes "$pair_bytes" \
          --frozen "$frozen" --flooders "$flooders" --flood-bytes "$flood" \
          --timeout $((pair_messages / pair_rate + (frozen > 100 ? 30 : 10))) --echo-to-sender "$(echo_of "$name")"
      done
    done
    unpinned=""
  done
  load_average >"$work/load_end"
  for item in when load_start load_end placement placement_short; do
    echo "# $item=$(cat "$work/$item")" >>"$results"
  done
  echo "# sizes=${sizes[*]}" >>"$results"
  echo "# event_sizes=${event_sizes[*]}" >>"$results"
  echo "# web_sizes=${web_sizes[*]}" >>"$results"
  echo "# rounds=$rounds_planned" >>"$results"
  mkdir -p "$build/bench"
  cp "$results" "$build/bench/results.txt"
  echo "bench: raw results in $build/bench/results.txt; the measurements took $SECONDS s" >&2
fi

# The page lives in docs/, beside its pictures.
echo "${plot_file#docs/}" >"$work/plot_link"
print_table >"$work/table.md"
mkdir -p "$build/bench"
cp "$work/table.md" "$build/bench/table.md"
draw_plot "$work/plot.svg" "fan-out against the room's size, $(cat "$work/placement_short"), $(cat "$work/when")" ||
  echo "bench: no picture (no fan-out figures among the parts measured?)" >&2
[ -f "$work/plot.svg" ] && cp "$work/plot.svg" "$build/bench/fanout.svg"
cat "$work/table.md"
[ -n "$update_readme" ] && update_readme_table "$work/table.md"
exit 0
