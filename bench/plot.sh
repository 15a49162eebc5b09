# bench/plot.sh: the picture of a run, sourced by bench/run.sh. Draws the fan-out latency (p50
# and p99) and the CPU per delivery against the room's size for the three relays, both scales
# logarithmic, as an SVG with gnuplot; the medians of $results, as in the table.

# One line per N: N, then p50 and p99 in ms and CPU ns per delivery for ours, the ceiling and
# ncat ("-" where there is no figure).
plot_data() {
  local size name
  echo "# N p50_ours p99_ours cpu_ours p50_ceiling p99_ceiling cpu_ceiling p50_ncat p99_ncat cpu_ncat"
  for size in "${sizes[@]}"; do
    local row="$size"
    for name in ours ceiling ncat; do
      local want="server=$name phase=fanout clients=$size"
      row+=" $(awk -v u="$(median lat_p50_us $want)" 'BEGIN { if (u == "" || u < 0) print "-"; else printf "%.4f", u / 1000 }')"
      row+=" $(awk -v u="$(median lat_p99_us $want)" 'BEGIN { if (u == "" || u < 0) print "-"; else printf "%.4f", u / 1000 }')"
      row+=" $(cpu_ns $want)"
    done
    echo "$row"
  done
}

# draw_plot SVG TITLE
draw_plot() {
  local svg=$1 title=$2 data="$work/plot.dat"
  command -v gnuplot >/dev/null || { echo "bench: no gnuplot, so no picture" >&2; return 0; }
  plot_data >"$data"
  gnuplot <<GNUPLOT
set terminal svg size 960,420 dynamic font "sans,12" background rgb "white"
set output "$svg"
set datafile missing "-"
set multiplot layout 1,2 title "$title" noenhanced
set logscale xy
set grid xtics ytics mxtics mytics lc rgb "#dddddd"
set key bottom right opaque box noenhanced
set xlabel "clients in the room (N)"
set xrange [5:20000]
set format x "%.0f"
set title "fan-out latency to the last client (ms)"
plot "$data" using 1:2 with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "ours p50", \
     "$data" using 1:3 with linespoints lw 2 pt 7 dt 2 lc rgb "#1f77b4" title "ours p99", \
     "$data" using 1:5 with linespoints lw 2 pt 5 lc rgb "#2ca02c" title "ceiling p50", \
     "$data" using 1:6 with linespoints lw 2 pt 5 dt 2 lc rgb "#2ca02c" title "ceiling p99", \
     "$data" using 1:8 with linespoints lw 2 pt 9 lc rgb "#d62728" title "ncat p50", \
     "$data" using 1:9 with linespoints lw 2 pt 9 dt 2 lc rgb "#d62728" title "ncat p99"
set title "relay CPU per delivery, one message in flight (ns)"
plot "$data" using 1:4 with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "ours", \
     "$data" using 1:7 with linespoints lw 2 pt 5 lc rgb "#2ca02c" title "ceiling", \
     "$data" using 1:10 with linespoints lw 2 pt 9 lc rgb "#d62728" title "ncat"
unset multiplot
GNUPLOT
  echo "bench: picture in $svg" >&2
}
