// The relay load's report: one "result" line of key=value figures for bench/run.sh, and one
// line for people.
#include "LoadRun.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

// The latency at a rank among `total` messages; those that never completed count as slower
// than any that did, and a rank among them gives -1 (lost).
double percentileUs(const std::vector<uint64_t>& sorted, size_t total, double fraction)
{
    if (total == 0)
        return 0;
    size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(total)));
    rank = std::clamp<size_t>(rank, 1, total);
    if (rank > sorted.size())
        return -1;
    return static_cast<double>(sorted[rank - 1]) / 1000.0;
}

} // namespace

int LoadRun::floodingClients() const
{
    if (m_options.floodBytes == 0)
        return 0;
    return m_options.flooders < 0 ? m_options.frozen : std::min(m_options.flooders, m_options.frozen);
}

void LoadRun::report(const ProcessSample& start, const ProcessSample& end, uint64_t segments)
{
    PhaseState& phase = m_phase;
    const PhasePlan& plan = phase.plan;
    bool paced = plan.rate > 0;
    uint64_t deliveredBytes = 0, extraBytes = 0;
    for (const Connection& connection : m_clients.connections()) {
        deliveredBytes += std::min(connection.received, connection.expected);
        if (connection.received > connection.expected)
            extraBytes += connection.received - connection.expected;
    }
    // What the floods were to send and sent, and the least any reading client got of it.
    uint64_t floodSent = this->floodSent(), floodReceivedMin = m_floodTotal;
    for (const Connection& connection : m_clients.connections())
        floodReceivedMin = std::min(floodReceivedMin, connection.cutter.floodBytes());
    // A paced run's receivers also get the floods: only whole messages count there.
    uint64_t deliveries = paced ? phase.latencies.size() * phase.receiversPerMessage
                                : deliveredBytes / static_cast<uint64_t>(m_options.bytes);
    double wall = static_cast<double>(phase.end - phase.start) / 1e9;
    double rate = wall > 0 ? static_cast<double>(deliveries) / wall : 0;
    std::sort(phase.latencies.begin(), phase.latencies.end());
    // A paced run counts what it sent, lost messages among them; a window run the latencies
    // it has.
    size_t total = paced ? phase.sent : phase.latencies.size();
    uint64_t lost = paced ? phase.sent - phase.latencies.size() : 0;
    double p50 = percentileUs(phase.latencies, total, 0.50), p99 = percentileUs(phase.latencies, total, 0.99);
    double max = percentileUs(phase.latencies, total, 1.0);
    uint64_t incomplete = phase.messageCount - phase.latencies.size();
    double cpu = end.cpuSeconds - start.cpuSeconds;

    std::printf("result server=%s phase=%s clients=%d frozen=%d flooders=%d flood_bytes=%" PRIu64 " senders=%d messages=%d "
                "bytes=%d echo=%s window=%d rate=%g complete=%d wall_s=%.4f deliveries=%" PRIu64 " deliveries_per_s=%.0f "
                "lat_p50_us=%.1f lat_p99_us=%.1f lat_max_us=%.1f lost_msgs=%" PRIu64 " incomplete_msgs=%" PRIu64
                " given_up=%" PRIu64 " resyncs=%" PRIu64 " garbled=%" PRIu64 " stale=%" PRIu64 " partial_sends=%" PRIu64
                " extra_bytes=%" PRIu64 " flood_total_bytes=%" PRIu64 " flood_sent_bytes=%" PRIu64
                " flood_received_min_bytes=%" PRIu64 " flood_missing_bytes=%" PRIu64
                " lost_connections=%" PRIu64 " server_cpu_s=%.6f server_rss_start_kib=%ld server_rss_kib=%ld"
                " server_hwm_kib=%ld segments_per_delivery=%.2f\n",
        m_options.label.c_str(), phaseName(plan.id), static_cast<int>(m_clients.size()), m_options.frozen,
        floodingClients(), m_options.floodBytes, plan.senders, plan.messages, m_options.bytes, m_options.echo ? "yes" : "no",
        plan.window, plan.rate, phase.complete ? 1 : 0, wall, deliveries, rate, p50, p99, max, lost, incomplete,
        phase.givenUp, m_clients.resyncs() - phase.resyncsBefore, phase.garbled, phase.stale,
        m_clients.partialSends() - phase.partialSendsBefore, extraBytes, m_floodTotal, floodSent, floodReceivedMin,
        m_floodTotal - floodReceivedMin,
        m_clients.lostConnections(), cpu, start.rssKib, end.rssKib, end.hwmKib,
        deliveries > 0 ? static_cast<double>(segments) / static_cast<double>(deliveries) : 0.0);
    std::printf("%s, %s: %d clients (+%d frozen, %d of them flooding), %d senders x %d messages of %d B: %.0f deliveries/s in "
                "%.3f s; latency to the last receiver p50 %.1f us, p99 %.1f us, max %.1f us (-1: lost)%s\n",
        m_options.label.c_str(), phaseName(plan.id), static_cast<int>(m_clients.size()), m_options.frozen,
        floodingClients(), plan.senders, plan.messages, m_options.bytes, rate, wall, p50, p99, max,
        phase.complete ? "" : " (INCOMPLETE)");
    if (m_floodTotal > 0)
        std::printf("%s: of %" PRIu64 " flood bytes %" PRIu64 " were sent; the reading client that got the fewest misses %" PRIu64
                    "; the relay's resident memory %ld KiB at the start, %ld KiB at its peak\n",
            m_options.label.c_str(), m_floodTotal, floodSent, m_floodTotal - floodReceivedMin, start.rssKib, end.hwmKib);
}
