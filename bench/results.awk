# bench/results.awk: figures from the raw results of bench/run.sh (lines "result key=value ...
# round=R"), for bench/table.sh. Called as
#   awk -v mode=MODE -v key=KEY -v want="k=v ..." [-v keyb=KEY -v wantb="k=v ..." -v worse=high|low] -f results.awk FILE
# mode=median: the median over the rounds of KEY among the lines that have every k=v of want.
# mode=spread: "median worst rounds" of KEY itself, the worst being the highest.
# mode=ratio: per round, KEY of the line matching want divided by KEYB of the line matching
#   wantb (the same line when wantb is empty), each the median of the round's trials where a
#   measurement was taken more than once; prints "median worst rounds", where the worst
#   round is the highest ratio (worse=high) or the lowest (worse=low), and a round whose first
#   figure is -1 (a lost message), or whose fan-out or load phase ran out of time, counts as
#   lost ("lost"). "- - 0" when no round has both.
# mode=difference: as ratio, with KEY minus KEYB instead of the quotient.
# The figure cpu_ns is the relay's CPU time per delivery: server_cpu_s * 1e9 / deliveries;
# growth_mib the relay's peak resident memory above its size at the start of the load.
function matches(filters,   n, w, i, j, found) {
  n = split(filters, w, " ")
  for (i = 1; i <= n; i++) {
    found = 0
    for (j = 2; j <= NF; j++) if ($j == w[i]) { found = 1; break }
    if (!found) return 0
  }
  return 1
}
function field(name,   j) {
  for (j = 2; j <= NF; j++) if (index($j, name "=") == 1) return substr($j, length(name) + 2)
  return ""
}
function figure(name,   cpu, deliveries) {
  if (name == "growth_mib") return (field("server_hwm_kib") - field("server_rss_start_kib")) / 1024
  if (name != "cpu_ns") return field(name)
  cpu = field("server_cpu_s"); deliveries = field("deliveries")
  return deliveries > 0 ? cpu * 1e9 / deliveries : ""
}
function sort_numbers(v, count,   i, j, t) {
  for (i = 1; i <= count; i++) for (j = i + 1; j <= count; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
}
function unfinished() { return field("complete") == "0" && (field("phase") == "fanout" || field("phase") == "load") }
function shown(value) { value += 0; return value >= lost_value ? "lost" : value == int(value) ? sprintf("%d", value) : sprintf("%.2f", value) }
BEGIN { lost_value = 1e9 }
$1 != "result" { next }
(mode == "median" || mode == "spread") && matches(want) {
  value = figure(key)
  if (value != "") v[++count] = value
}
# A round's figures, one per trial: a[round, i] for i in 1..a_count[round], likewise b.
function add_a(round, value) {
  if (value != "") a[round, ++a_count[round]] = value
  if (unfinished() || (value != "" && value + 0 < 0)) failed[round] = 1
}
function add_b(round, value) { if (value != "") b[round, ++b_count[round]] = value }
function round_median(values, round, count,   i, v) {
  for (i = 1; i <= count; i++) v[i] = values[round, i]
  sort_numbers(v, count)
  return v[int((count + 1) / 2)]
}
mode == "ratio" || mode == "difference" {
  round = field("round")
  rounds[round] = 1
  if (wantb == "") {
    if (!matches(want)) next
    add_a(round, figure(key)); add_b(round, figure(keyb))
  } else if (matches(want)) {
    add_a(round, figure(key))
  } else if (matches(wantb)) {
    add_b(round, figure(keyb))
  }
}
END {
  if (mode == "median") {
    if (!count) exit
    sort_numbers(v, count)
    print v[int((count + 1) / 2)]
    exit
  }
  if (mode == "spread") {
    if (!count) { print "- - 0"; exit }
    sort_numbers(v, count)
    print shown(v[int((count + 1) / 2)]), shown(v[count]), count
    exit
  }
  for (round in rounds) {
    if (!a_count[round] || !b_count[round]) continue
    ra = round_median(a, round, a_count[round]); rb = round_median(b, round, b_count[round])
    if (mode == "difference") { v[++count] = ra - rb; continue }
    if (rb + 0 <= 0) continue
    v[++count] = failed[round] ? lost_value : ra / rb
  }
  if (!count) { print "- - 0"; exit }
  sort_numbers(v, count)
  print shown(v[int((count + 1) / 2)]), shown(worse == "low" ? v[1] : v[count]), count
}
