# bench/table-web.sh: the web-client row of the benchmark's table, sourced by bench/run.sh
# after bench/table.sh (whose helpers and target checks it uses). The rooms are measured by the
# "web" part of bench/run.sh: the same fan-out in a room of which half the members are
# WebSocket clients of the web entrance and in an all-TCP room, one after the other in each
# round; and idle clients, all WebSocket or all TCP.

print_web_table() {
  local size
  echo "**Web clients.** The fan-out above in a room of N of which the last half are WebSocket clients of the web entrance (binary frames both ways, as a program on the web entrance would use it; a browser's page sends text frames, which the relay converts), against the same room all TCP, measured one after the other in each round. CPU per delivery, both rooms' deliveries counted alike."
  echo
  echo "| N | p50 ms, half web / all TCP | p99 ms, half web / all TCP | CPU ns per delivery, half web / all TCP | half web ÷ all TCP, CPU |"
  echo "|---|---|---|---|---|"
  for size in "${web_sizes[@]}"; do
    local web="server=ours-web phase=fanout clients=$size" tcp="server=ours-tcp phase=fanout clients=$size" rcpu
    rcpu=$(ratio cpu_ns "$web" cpu_ns "$tcp")
    check "a room half of web clients: CPU per delivery ≤ 1.3 × an all-TCP room's" 1.3 high "N = $(thousands "$size")" "$rcpu"
    echo "| $(thousands "$size") | $(ms "$(median lat_p50_us $web)") / $(ms "$(median lat_p50_us $tcp)") | $(ms "$(median lat_p99_us $web)") / $(ms "$(median lat_p99_us $tcp)") | $(cpu_ns $web) / $(cpu_ns $tcp) | $(shown_ratio "$rcpu") |"
  done
  echo
  local difference
  difference=$(awk -v mode=difference -v key=kib_per_client -v want="server=ours-web phase=idle" -v keyb=kib_per_client \
    -v wantb="server=ours-tcp phase=idle" -f "$results_awk" "$results")
  check "an idle web client ≤ 2 KiB more than an idle TCP client" 2 high "" "$difference"
  if grep -q 'server=history-on ' "$results"; then
    echo "**The room's history.** The half-web fan-out above with the history on (500 messages, 1 MiB, the default) and off (\`--history 0\`), measured one after the other in each round."
    echo
    echo "| N | CPU ns per delivery, history on / off | on ÷ off |"
    echo "|---|---|---|"
    for size in "${web_sizes[@]}"; do
      local on="server=history-on phase=fanout clients=$size" off="server=history-off phase=fanout clients=$size"
      echo "| $(thousands "$size") | $(cpu_ns $on) / $(cpu_ns $off) | $(shown_ratio "$(ratio cpu_ns "$on" cpu_ns "$off")") |"
    done
    echo
  fi
  echo "Resident memory per idle client, from the $((idle_clients / 2))th to the ${idle_clients}th: a WebSocket client $(figure kib_per_client server=ours-web phase=idle) KiB, a TCP client $(figure kib_per_client server=ours-tcp phase=idle) KiB; the difference, paired within a round: $(shown_ratio "$difference") KiB."
  echo
}
