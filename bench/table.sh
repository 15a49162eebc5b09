# bench/table.sh: the markdown of the benchmark page (docs/benchmark.md) from the raw results of a run
# ($results), sourced by bench/run.sh. Each figure is the median over the rounds; each ratio
# is paired within a round (the lines of a round were measured one after the other, so a change
# in the machine's load hits both alike) and shown as its median with the worst round beside
# it, and a target counts as met only when its worst round meets it in every round of the run.

readonly results_awk=bench/results.awk

# The median of one key among the result lines that have every given key=value.
#   median KEY key=value...
median() {
  local key=$1
  shift
  awk -v mode=median -v key="$key" -v want="$*" -f "$results_awk" "$results"
}
figure() {
  local value
  value=$(median "$@")
  echo "${value:--}"
}
# "median worst rounds" of a paired ratio (see results.awk).
#   ratio KEY "FILTERS" KEYB "FILTERS_B" [high|low]
ratio() { awk -v mode=ratio -v key="$1" -v want="$2" -v keyb="$3" -v wantb="$4" -v worse="${5:-high}" -f "$results_awk" "$results"; }
# A ratio for the table: "median (worst)".
shown_ratio() {
  local med worst count
  read -r med worst count <<<"$1"
  [ "$count" = 0 ] && { echo "-"; return; }
  echo "$med ($worst)"
}
ms() { awk -v u="$1" 'BEGIN { if (u == "" || u == "-") print "-"; else if (u < 0) print "lost"; else if (u < 10000) printf "%.2f", u / 1000; else printf "%.0f", u / 1000 }'; }
thousands() { awk -v v="$1" 'BEGIN { if (v == "" || v == "-") { print "-"; exit } s = sprintf("%.0f", v); while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s); print s }'; }
# The relay's CPU ns per delivery over one phase (medians of its two figures).
cpu_ns() {
  local cpu deliveries
  cpu=$(median server_cpu_s "$@")
  deliveries=$(median deliveries "$@")
  awk -v c="$cpu" -v d="$deliveries" 'BEGIN { if (c == "" || d == "" || d == 0) print "-"; else printf "%.0f", c * 1e9 / d }'
}

# The targets: each check adds the worst round of one ratio at one place (an N, a row) against
# a limit; "high" when a higher ratio is worse, "low" when a lower one is. A target is met when
# each of its checks has every round of the run and its worst round is within the limit.
declare -A target_limit target_direction target_worst target_where target_rounds target_itself target_itself_where
target_order=()
# The worst round of the ceiling against itself at the places of a target: how far the pairing
# alone reaches there (shown beside the target; the verdict stays the target's own).
#   itself NAME WHERE "median worst rounds"
itself() {
  local name=$1 where=$2 med worst count
  read -r med worst count <<<"$3"
  [ "$count" = 0 ] && return 0
  local current=${target_itself[$name]:-}
  if [ -z "$current" ] || awk -v a="$worst" -v b="$current" 'BEGIN { exit !(a + 0 > b + 0) }'; then
    target_itself[$name]=$worst
    target_itself_where[$name]=$where
  fi
}
check() {
  local name=$1 limit=$2 direction=$3 where=$4 med worst count
  read -r med worst count <<<"$5"
  if [ -z "${target_limit[$name]:-}" ]; then
    target_order+=("$name")
    target_limit[$name]=$limit
    target_direction[$name]=$direction
    target_rounds[$name]=$count
  fi
  [ "$count" -lt "${target_rounds[$name]}" ] && target_rounds[$name]=$count
  [ "$count" = 0 ] && return 0
  local current=${target_worst[$name]:-}
  [ "$current" = lost ] && return 0
  if [ -z "$current" ] || [ "$worst" = lost ] ||
    awk -v a="$worst" -v b="$current" -v d="$direction" 'BEGIN { exit !(d == "low" ? a + 0 < b + 0 : a + 0 > b + 0) }'; then
    target_worst[$name]=$worst
    target_where[$name]=$where
  fi
}
verdict() {
  local name=$1 worst=${target_worst[$1]:-} rounds=${target_rounds[$1]:-0}
  if [ -z "$worst" ]; then echo "not measured"; return; fi
  if [ "$rounds" -lt "$rounds_planned" ]; then echo "missed: a measurement has $rounds of $rounds_planned rounds"; return; fi
  [ "$worst" = lost ] && { echo "missed"; return; }
  awk -v v="$worst" -v l="${target_limit[$name]}" -v d="${target_direction[$name]}" 'BEGIN { print ((d == "low" ? v + 0 >= l + 0 : v + 0 <= l + 0) ? "met" : "missed") }'
}

print_table() {
  local size name tried=""
  for size in "${sizes[@]}"; do
    [ "${trials[$size]:-1}" -gt 1 ] && tried+="${tried:+, }${trials[$size]} at N = $(thousands "$size")"
  done
  echo "Results of \`bench/run.sh\` on $(cat "$work/when"); load average at the start $(cat "$work/load_start"), at the end $(cat "$work/load_end"). **Placement: $(cat "$work/placement")** Figures are the median of $rounds_planned rounds${tried:+ (of all their trials where a round measured a room more than once: $tried)}, in which the servers take turns; a ratio is paired within a round (between the medians of its trials) and shown as the median of the rounds' ratios with the worst round in brackets; a target is met only when its worst round is."
  echo
  echo "![Fan-out latency and CPU per delivery against the room's size, ours beside the ceiling and ncat]($(cat "$work/plot_link"))"
  echo
  echo "**Fan-out.** One message in flight: client 0 sends the next 64-byte message only when the last one has reached every client; latency to the last receiver, and the relay's CPU per delivery when every delivery is a TCP segment of its own."
  echo
  echo "| N | p50 ms, ours / ncat / ceiling | p99 ms, ours / ncat / ceiling | ours ÷ ceiling, p50 | ours ÷ ceiling, p99 | ours ÷ ncat, p50 / p99 | CPU ns per delivery, ours / ncat / ceiling | ours ÷ ceiling, CPU |"
  echo "|---|---|---|---|---|---|---|---|"
  for size in "${sizes[@]}"; do
    local ours="server=ours phase=fanout clients=$size" ceiling="server=ceiling phase=fanout clients=$size" ncat="server=ncat phase=fanout clients=$size"
    local r50 r99 rcpu n50="unable¹" n99="unable¹" vs_ncat="-" ncpu="unable¹"
    r50=$(ratio lat_p50_us "$ours" lat_p50_us "$ceiling")
    r99=$(ratio lat_p99_us "$ours" lat_p99_us "$ceiling")
    rcpu=$(ratio cpu_ns "$ours" cpu_ns "$ceiling")
    check "fan-out p50 ≤ 1.1 × the ceiling's, every N" 1.1 high "N = $(thousands "$size")" "$r50"
    check "fan-out p99 ≤ 1.1 × the ceiling's, every N" 1.1 high "N = $(thousands "$size")" "$r99"
    check "fan-out CPU per delivery ≤ 1.1 × the ceiling's, every N" 1.1 high "N = $(thousands "$size")" "$rcpu"
    local again="server=ceiling-again phase=fanout clients=$size"
    itself "fan-out p50 ≤ 1.1 × the ceiling's, every N" "N = $(thousands "$size")" "$(ratio lat_p50_us "$again" lat_p50_us "$ceiling")"
    itself "fan-out p99 ≤ 1.1 × the ceiling's, every N" "N = $(thousands "$size")" "$(ratio lat_p99_us "$again" lat_p99_us "$ceiling")"
    itself "fan-out CPU per delivery ≤ 1.1 × the ceiling's, every N" "N = $(thousands "$size")" "$(ratio cpu_ns "$again" cpu_ns "$ceiling")"
    if has_ncat "$size"; then
      local c50 c99
      n50=$(ms "$(median lat_p50_us $ncat)")
      n99=$(ms "$(median lat_p99_us $ncat)")
      ncpu=$(cpu_ns $ncat)
      c50=$(ratio lat_p50_us "$ours" lat_p50_us "$ncat")
      c99=$(ratio lat_p99_us "$ours" lat_p99_us "$ncat")
      check "fan-out p50 and p99 ≤ ncat's, where ncat runs" 1 high "N = $(thousands "$size"), p50" "$c50"
      check "fan-out p50 and p99 ≤ ncat's, where ncat runs" 1 high "N = $(thousands "$size"), p99" "$c99"
      vs_ncat="$(shown_ratio "$c50") / $(shown_ratio "$c99")"
    fi
    echo "| $(thousands "$size") | $(ms "$(median lat_p50_us $ours)") / $n50 / $(ms "$(median lat_p50_us $ceiling)") | $(ms "$(median lat_p99_us $ours)") / $n99 / $(ms "$(median lat_p99_us $ceiling)") | $(shown_ratio "$r50") | $(shown_ratio "$r99") | $vs_ncat | $(cpu_ns $ours) / $ncpu / $(cpu_ns $ceiling) | $(shown_ratio "$rcpu") |"
  done
  echo
  print_pairing_table
  echo "**Relay load.** Ten senders (fewer when N is smaller), one 64-byte message in flight each: deliveries per second (messages × receivers ÷ wall time), the relay's CPU time per delivery, TCP segments sent per delivery (data and acknowledgements; below 1 when the kernel merged sends²), the latency to the last receiver."
  echo
  echo "| N | del/s, ours / ncat / ceiling | ours ÷ ceiling, rate | CPU ns per delivery, ours / ncat / ceiling | ours ÷ ceiling, CPU | segments per delivery, ours / ncat / ceiling | ours p50 / p99 ms |"
  echo "|---|---|---|---|---|---|---|"
  for size in "${sizes[@]}"; do
    local ours="server=ours phase=load clients=$size" ceiling="server=ceiling phase=load clients=$size" ncat="server=ncat phase=load clients=$size"
    local rrate rcpu segments="" rate_ncat="unable¹" cpu_ncat="unable¹"
    rrate=$(ratio deliveries_per_s "$ours" deliveries_per_s "$ceiling" low)
    rcpu=$(ratio cpu_ns "$ours" cpu_ns "$ceiling")
    check "ten senders: rate ≥ the ceiling's, every N" 1 low "N = $(thousands "$size")" "$rrate"
    check "ten senders: CPU per delivery ≤ 1.1 × the ceiling's, every N" 1.1 high "N = $(thousands "$size")" "$rcpu"
    if has_ncat "$size"; then
      rate_ncat=$(thousands "$(median deliveries_per_s $ncat)")
      cpu_ncat=$(cpu_ns $ncat)
    fi
    for name in ours ncat ceiling; do
      if [ "$name" = ncat ] && ! has_ncat "$size"; then segments+=" / unable¹"; continue; fi
      segments+="${segments:+ / }$(figure segments_per_delivery "server=$name" phase=load "clients=$size")"
    done
    echo "| $(thousands "$size") | $(thousands "$(median deliveries_per_s $ours)") / $rate_ncat / $(thousands "$(median deliveries_per_s $ceiling)") | $(shown_ratio "$rrate") | $(cpu_ns $ours) / $cpu_ncat / $(cpu_ns $ceiling) | $(shown_ratio "$rcpu") | $segments | $(ms "$(median lat_p50_us $ours)") / $(ms "$(median lat_p99_us $ours)") |"
  done
  echo
  echo "¹ $ncat_unable."
  echo
  echo "² Ours writes everything a round of ready senders has for a client in one send (see \"Delivery to slow clients\" in the README), so it merges messages itself. For the others: a relay that sends a client its next small message before the client has acknowledged the last one has it held back and merged with the next (Nagle's rule, on for all three relays), which costs far less per delivery. How often that happens depends on how far the relay runs ahead of the load generator's acknowledgements: on two cores it comes and goes with where the scheduler puts the two processes (hence the shared core); on one core a relay that falls behind at the start stays behind, since unmerged sends cost several times more, and from N = 2,000 on that decides the round. So the CPU per delivery under the ten-sender load follows the segments per delivery as much as the relay's own work. With one message in flight (the fan-out) every delivery is its own segment for every relay: that CPU per delivery compares the relays' work like for like. The segments are counted over the benchmark's own network namespace."
  echo
  print_events_table
  print_frozen_table
  print_other_figures
  print_web_table
  print_targets
}

# The ceiling against itself: the same pairing, the same trials, one program twice. A ratio of
# ours within this spread is no difference the benchmark can see.
print_pairing_table() {
  grep -q ' server=ceiling-again phase=fanout ' "$results" || return 0
  echo "**What a pairing can tell.** The ceiling measured twice, as a fourth relay taking its turns beside it (\"again\"), paired and taken in trials as the others: its ratios to itself are what the machine alone does to a ratio. A ratio of ours within the same spread is no difference this benchmark can see."
  echo
  echo "| N | again ÷ ceiling, p50 | again ÷ ceiling, p99 | again ÷ ceiling, CPU |"
  echo "|---|---|---|---|"
  local size key
  for size in "${sizes[@]}"; do
    local row="| $(thousands "$size") |"
    for key in lat_p50_us lat_p99_us cpu_ns; do
      row+=" $(shown_ratio "$(ratio "$key" "server=ceiling-again phase=fanout clients=$size" "$key" "server=ceiling phase=fanout clients=$size")") |"
    done
    echo "$row"
  done
  echo
}

print_events_table() {
  echo "**One event in a room of idle clients.** How long one event holds the room: the time until the next line has reached every client. Client 0 says each line; a chat line, a leave and a kick are each timed from the event (the line's send, the leaver's close, the administrator's request \`kick ADDRESS\` on the control socket) until a line said as soon as anybody has heard of the event has reached everybody, so each includes that line's fan-out (the chat line held is the yardstick); the fan-out of a chat line alone is shown beside it; the room's first line (nobody sent anything yet) and a line after a pause of $(awk -v m="$event_pause_ms" 'BEGIN { printf "%g", m / 1000 }') s are timed to the first client and to the last. Ours only: the others tell the room nothing and have no kick. $event_count events of each kind a round; the median of a round's events counts."
  echo
  echo "| N | chat line's fan-out ms | chat line held ms | room's first line ms, first / last | after a pause ms, first / last | leave ms | kick ms | leave ÷ chat line held | kick ÷ chat line held | first line, to the first client ÷ chat line's fan-out | after a pause, to the first client ÷ chat line's fan-out |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
  local size target="a leave and a kick ≤ 2 × a chat line held, a quiet room's first line ≤ 2 × a chat line's fan-out, N =" joiner=" "
  for size in "${event_sizes[@]}"; do
    target+="$joiner$(thousands "$size")"
    joiner=" and "
  done
  for size in "${event_sizes[@]}"; do
    local line="server=ours phase=events clients=$size" rleave rkick rfirst rquiet
    rleave=$(ratio leave_us "$line" chat_held_us "")
    rkick=$(ratio kick_us "$line" chat_held_us "")
    rfirst=$(ratio first_line_first_us "$line" chat_us "")
    rquiet=$(ratio quiet_first_us "$line" chat_us "")
    check "$target" 2 high "N = $(thousands "$size"), leave" "$rleave"
    check "$target" 2 high "N = $(thousands "$size"), kick" "$rkick"
    check "$target" 2 high "N = $(thousands "$size"), room's first line" "$rfirst"
    check "$target" 2 high "N = $(thousands "$size"), after a pause" "$rquiet"
    echo "| $(thousands "$size") | $(ms "$(median chat_us $line)") | $(ms "$(median chat_held_us $line)") | $(ms "$(median first_line_first_us $line)") / $(ms "$(median first_line_last_us $line)") | $(ms "$(median quiet_first_us $line)") / $(ms "$(median quiet_last_us $line)") | $(ms "$(median leave_us $line)") | $(ms "$(median kick_us $line)") | $(shown_ratio "$rleave") | $(shown_ratio "$rkick") | $(shown_ratio "$rfirst") | $(shown_ratio "$rquiet") |"
  done
  echo
}

print_frozen_table() {
  echo "**Clients that never read.** A pair of clients sends $((2 * pair_rate)) messages of $pair_bytes bytes a second in all ($((2 * pair_messages)) messages), while K more clients with 4 KiB receive buffers never read; in the flood rows ten of them also send 1 MiB of text each, which everybody is sent (never more than 4 MiB ahead of the reading client furthest behind: the load generator reads for the pair on the same thread, and a reader it let fall 8 MiB behind would be one the relay rightly cuts). Latency of a message to the last of its receivers; \"lost\": more messages than that percentile never arrived. The flood column gives how many of the floods' bytes the reading client that got the fewest of them missed, and the relay's peak resident memory above its size before the load."
  echo
  echo "| clients that never read | ours p50 / p99 ms | ours: flood bytes missed, peak memory growth MiB | ncat p50 / p99 ms |"
  echo "|---|---|---|---|"
  local case frozen flood flooders label
  for case in "${frozen_cases[@]}"; do
    read -r frozen flood flooders <<<"$case"
    local want="phase=rate frozen=$frozen flood_bytes=$flood flooders=$flooders" ncat_cell growth missing
    label=$(thousands "$frozen")
    [ "$flood" != 0 ] && label+=", $([ "$flooders" = "$frozen" ] && echo "each" || echo "$flooders of them") sending $((flood / 1048576)) MiB"
    ncat_cell="$(ms "$(median lat_p50_us server=ncat $want)") / $(ms "$(median lat_p99_us server=ncat $want)")"
    frozen_has_ncat "$frozen" || ncat_cell="not run³"
    missing="-" growth="-"
    if [ "$flood" != 0 ]; then
      missing=$(thousands "$(median flood_missing_bytes server=ours $want)")
      growth=$(awk -v m="$(median growth_mib server=ours $want)" 'BEGIN { if (m == "") print "-"; else printf "%.0f", m }')
    fi
    check "ours: the pair loses no line, in every row of clients that never read (lines lost)" 0 high "$label" "$(spread lost_msgs server=ours $want)"
    echo "| $label | $(ms "$(median lat_p50_us server=ours $want)") / $(ms "$(median lat_p99_us server=ours $want)") | $missing, $growth | $ncat_cell |"
  done
  check "the pair's p99 with 10 clients that never read ≤ 2 × with none" 2 high "" \
    "$(ratio lat_p99_us "server=ours phase=rate frozen=10 flooders=0 flood_bytes=0" lat_p99_us "server=ours phase=rate frozen=0 flooders=0 flood_bytes=0")"
  local big="server=ours phase=rate frozen=$big_frozen flood_bytes=$flood_row_bytes flooders=$big_flooders"
  check "$(thousands "$big_frozen") clients that never read, $big_flooders of them flooding: the pair misses no flood byte (bytes missed)" 0 high "" "$(spread flood_missing_bytes $big)"
  check "$(thousands "$big_frozen") clients that never read, $big_flooders of them flooding: the relay's peak memory growth ≤ 256 MiB, all queues' cap (MiB)" 256 high "" "$(spread growth_mib $big)"
  echo
  echo "³ ncat --broker writes to its clients blocking: one client that never reads stops it for everybody (the rows above), so the $(thousands "$big_frozen")-client row is not run for it."
  echo
}

# "median worst rounds" of one figure itself, the worst being the highest.
#   spread KEY key=value...
spread() {
  local key=$1
  shift
  awk -v mode=spread -v key="$key" -v want="$*" -f "$results_awk" "$results"
}

print_other_figures() {
  local robot memory
  robot=$(ratio cpu_ms_per_mib "server=ours-robot phase=flood" cpu_ms_per_mib "server=ours phase=flood")
  check "CPU per MiB of text without line ends, robot on ≤ 2 × robot off" 2 high "" "$robot"
  echo "**Text without line ends.** One client sends $((flood_bytes / 1024 / 1024)) MiB of text without a line end and reads it back: our relay's CPU per MiB is $(figure cpu_ms_per_mib server=ours-robot phase=flood) ms with the robot on (the default word library beside the program), $(figure cpu_ms_per_mib server=ours phase=flood) ms with it off (no reply.ini); on ÷ off $(shown_ratio "$robot")."
  echo
  # The memory per idle client is a figure, not a ratio: its worst round straight from the lines.
  local med worst count
  read -r med worst count <<<"$(spread kib_per_client server=ours phase=idle)"
  check "resident memory per idle client ≤ 1 KiB" 1 high "" "$med $worst $count"
  echo "**Memory.** Resident memory per idle client, from the $((idle_clients / 2))th to the ${idle_clients}th idle client: ours $med KiB (worst round $worst), ncat $(figure kib_per_client server=ncat phase=idle) KiB, ceiling $(figure kib_per_client server=ceiling phase=idle) KiB. Counted from a fresh relay instead (which adds what the first connections page in once, such as code): ours $(figure kib_per_client_from_start server=ours phase=idle) KiB, ncat $(figure kib_per_client_from_start server=ncat phase=idle) KiB, ceiling $(figure kib_per_client_from_start server=ceiling phase=idle) KiB. Kernel socket buffers are not included."
  echo
}

print_targets() {
  echo "**Targets**, each judged by its worst round ($rounds_planned rounds; placement: $(cat "$work/placement_short")):"
  echo
  echo "| target | worst round | | the ceiling against itself, worst round |"
  echo "|---|---|---|---|"
  local name where
  for name in "${target_order[@]}"; do
    where=${target_where[$name]:-}
    local worst=${target_worst[$name]:--}
    [[ "$worst" =~ ^[0-9]{4,}$ ]] && worst=$(thousands "$worst")
    echo "| $name | $worst${where:+ ($where)} | $(verdict "$name") | ${target_itself[$name]:--}${target_itself_where[$name]:+ (${target_itself_where[$name]})} |"
  done
}
