// chatroom-load: the load generator of the relay benchmark.
//
// Connects N clients to a relay (ours, ncat --broker or reference-relay), waits until the relay
// has every one of them in its room, lets S of them send M messages of B bytes each and counts
// the bytes every receiver gets until each has all it should or the time limit passes. Reports
// deliveries per second (messages x receivers / wall time) and the latency from a send to its
// arrival at the last receiver. Before that, --fanout-messages F lets client 0 send F messages
// one at a time, each only when the previous one is everywhere: the latency of one message's
// fan-out with nothing else in flight.
//
// With --rate R the senders instead send R messages per second each, and the run reports the
// latency of those messages; with --frozen K, K more clients connect first and never read
// (optionally each sending --flood-bytes), so that the latency shows whether they hold up the
// others. Other measurements: --idle-clients K (resident memory per idle connection, see
// IdleMemory.cpp) and --flood-bytes without frozen clients (CPU per MiB, see FloodCost.cpp).
//
// The relays forward whatever one read gave them, so the wire carries no message boundaries.
// Counting bytes is therefore the truth for throughput; for latency each receiver cuts its byte
// stream into B-byte messages that start with a magic, the sender, a sequence number and the
// phase, and resynchronises on the magic should a chunk ever end inside a message (or a flood
// come in between). Each sender keeps at most --window messages in flight (sent but not yet at
// every receiver), so the relay is kept busy without its socket buffers filling up, and small
// sends do not merge into big chunks.
#include "LoadSupport.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The magic ends in a NUL byte: our relay takes a message's text only up to the first NUL, so
// no payload can ever look like a robot command to it.
constexpr char kMagic[4] = { 'L', 'D', 'M', '\0' };
constexpr size_t kHeaderSize = 24; // magic, sender, sequence, phase, send time in ns
constexpr uint32_t kProbeFlag = 0x80000000u;
constexpr size_t kReadSize = 64 * 1024;
constexpr uint64_t kGiveUpNs = 2 * kNsPerSecond;
// A paced run waits this long after its last send for the messages still on their way.
constexpr uint64_t kRateGraceNs = 3 * kNsPerSecond;
// Between two phases: the relay is quiet when nothing has arrived for this long.
constexpr int kQuietMs = 200;
constexpr uint64_t kQuietLimitNs = 5 * kNsPerSecond;
// A frozen reader's receive buffer: its connection is full after a few kilobytes.
constexpr int kFrozenReceiveBuffer = 4096;
constexpr uint64_t kWarmUpNs = 15 * kNsPerSecond;
constexpr uint64_t kProbeEveryNs = 50 * kNsPerMs;
constexpr int kMaxEvents = 512;
constexpr int kSocketsGoneLimitMs = 20000;

enum PhaseId : uint32_t { kFanout = 1, kLoad = 2, kRate = 3 };

const char* phaseName(PhaseId id)
{
    switch (id) {
    case kFanout: return "fanout";
    case kLoad: return "load";
    case kRate: return "rate";
    }
    return "?";
}

struct PhasePlan {
    PhaseId id;
    int senders;
    int messages; // per sender
    int window;
    double rate; // messages per second per sender; 0: paced by the window
    double timeoutSeconds;
};

struct Connection {
    int fd = -1;
    bool open = true;
    uint64_t received = 0; // bytes since counting started
    uint64_t messageBytes = 0; // of them, in whole messages of the phase
    uint64_t expected = 0;
    std::string tail; // the start of a message whose rest has not arrived yet
    // Warm-up: the last probe sequence seen from each of the (at most two) probe senders.
    int64_t lastProbe[2] = { -1, -1 };
    // Sender side.
    std::string pending; // bytes of a message the socket did not take yet
    uint32_t nextSeq = 0;
    uint32_t inFlight = 0;
    uint32_t oldest = 0; // the first sequence number that is neither complete nor given up
};

// A client that never reads; it may paste a flood of text.
struct FrozenClient {
    int fd = -1;
    uint64_t floodLeft = 0;
};

// What one phase has seen so far.
struct PhaseState {
    PhasePlan plan {};
    size_t messageCount = 0;
    uint32_t receiversPerMessage = 0;
    std::vector<uint64_t> sentAt;
    std::vector<uint32_t> arrivals; // receivers that have the message so far
    std::vector<uint8_t> settled; // complete, or given up on: no longer in its sender's window
    std::vector<uint64_t> latencies;
    size_t satisfied = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t lastSatisfied = 0;
    bool complete = false;
    uint64_t sent = 0;
    uint64_t resyncs = 0;
    uint64_t garbled = 0;
    uint64_t givenUp = 0;
    uint64_t partialSends = 0;
    uint64_t stale = 0; // messages of an earlier phase that arrived late
};

class LoadRun {
public:
    explicit LoadRun(const Options& options)
        : m_options(options)
        , m_buffer(kReadSize)
    {
    }

    ~LoadRun()
    {
        if (m_epoll >= 0)
            close(m_epoll);
        for (Connection& connection : m_connections) {
            if (connection.fd >= 0)
                close(connection.fd);
        }
        for (FrozenClient& frozen : m_frozen) {
            if (frozen.fd >= 0)
                close(frozen.fd);
        }
    }

    int run()
    {
        ProcessSample idle = sampleProcess(m_options.serverPid);
        // The frozen clients come first: a relay takes connections in order, so once the others
        // are in its room, so are they.
        std::vector<int> frozenFds, fds;
        bool connected = connectAll(m_options, m_options.frozen, frozenFds, kFrozenReceiveBuffer)
            && connectAll(m_options, m_options.clients, fds);
        for (int fd : frozenFds) {
            bool floods = m_options.flooders < 0 || static_cast<int>(m_frozen.size()) < m_options.flooders;
            m_frozen.push_back(FrozenClient { fd, floods ? m_options.floodBytes : 0 });
            m_floodTotal += floods ? m_options.floodBytes : 0;
        }
        m_epoll = epoll_create1(0);
        for (size_t i = 0; i < fds.size(); ++i) {
            Connection connection;
            connection.fd = fds[i];
            m_connections.push_back(std::move(connection));
            epoll_event event { .events = EPOLLIN, .data = { .u64 = i } };
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, fds[i], &event);
        }
        if (!connected)
            return 1;
        if (!warmUp()) {
            std::fprintf(stderr, "chatroom-load: the relay did not get every client into its room in time\n");
            return 1;
        }
        if (m_options.fanoutMessages > 0) {
            runPhase({ kFanout, 1, m_options.fanoutMessages, 1, 0, m_options.timeoutSeconds });
            waitUntilQuiet();
        }
        if (m_options.rate > 0)
            runPhase({ kRate, m_options.senders, m_options.messages, m_options.messages, m_options.rate, m_options.timeoutSeconds });
        else
            runPhase({ kLoad, m_options.senders, m_options.messages, m_options.window, 0, m_options.timeoutSeconds });

        std::vector<int> toClose;
        for (FrozenClient& frozen : m_frozen)
            toClose.push_back(std::exchange(frozen.fd, -1));
        for (Connection& connection : m_connections)
            toClose.push_back(std::exchange(connection.fd, -1));
        closeInOrder(toClose);
        if (idle.socketCount >= 0)
            waitForServerSockets(m_options.serverPid, idle.socketCount, false, kSocketsGoneLimitMs);
        return m_lostConnections == 0 ? 0 : 1;
    }

private:
    // A connect succeeds before the relay has accepted it, so the load starts only when a probe
    // has reached every client: the relay has the whole room then, and later probes reach all.
    // Probes come from client 0 (and, when the relay does not echo, from client 1 so that client
    // 0 hears one too). Once the last probe has arrived everywhere nothing is on the way, and
    // the byte counts start from zero.
    bool warmUp()
    {
        int probeSenders = m_options.echo ? 1 : 2;
        uint32_t probesSent[2] = { 0, 0 };
        uint64_t deadline = nowNs() + kWarmUpNs;
        uint64_t nextProbe = 0;
        sleepMs(50);
        while (!everybodyHeard(probeSenders, nullptr)) {
            uint64_t now = nowNs();
            if (now >= deadline)
                return false;
            if (now >= nextProbe) {
                for (int p = 0; p < probeSenders; ++p)
                    sendProbe(p, probesSent[p]++);
                nextProbe = now + kProbeEveryNs;
            }
            pump(10);
        }
        int64_t last[2] = { static_cast<int64_t>(probesSent[0]) - 1, static_cast<int64_t>(probesSent[1]) - 1 };
        while (!everybodyHeard(probeSenders, last)) {
            if (nowNs() >= deadline)
                return false;
            pump(10);
        }
        return m_lostConnections == 0;
    }

    // Whether every receiver has heard any probe (last == nullptr) or the given last probes.
    bool everybodyHeard(int probeSenders, const int64_t* last) const
    {
        for (size_t r = 0; r < m_connections.size(); ++r) {
            bool heardAny = false;
            for (int p = 0; p < probeSenders; ++p) {
                if (!m_options.echo && static_cast<size_t>(p) == r)
                    continue;
                int64_t seen = m_connections[r].lastProbe[p];
                if (last && seen < last[p])
                    return false;
                heardAny = heardAny || seen >= 0;
            }
            if (!heardAny)
                return false;
        }
        return true;
    }

    void sendProbe(int p, uint32_t seq)
    {
        std::string message(static_cast<size_t>(m_options.bytes), 'x');
        encode(message.data(), kProbeFlag | static_cast<uint32_t>(p), seq, 0, nowNs());
        sendMessage(m_connections[static_cast<size_t>(p)], std::move(message));
    }

    // Between phases: whatever is still on its way arrives before the next phase counts.
    void waitUntilQuiet()
    {
        uint64_t limit = nowNs() + kQuietLimitNs;
        while (nowNs() < limit) {
            uint64_t before = m_bytesSeen;
            pump(kQuietMs);
            if (m_bytesSeen == before)
                return;
        }
    }

    void runPhase(const PhasePlan& plan)
    {
        PhaseState& phase = m_phase;
        phase = PhaseState {};
        phase.plan = plan;
        phase.messageCount = static_cast<size_t>(plan.senders) * static_cast<size_t>(plan.messages);
        phase.receiversPerMessage = static_cast<uint32_t>(m_options.echo ? m_connections.size() : m_connections.size() - 1);
        phase.sentAt.assign(phase.messageCount, 0);
        phase.arrivals.assign(phase.messageCount, 0);
        phase.settled.assign(phase.messageCount, 0);
        for (size_t r = 0; r < m_connections.size(); ++r) {
            Connection& connection = m_connections[r];
            connection.received = connection.messageBytes = 0;
            connection.tail.clear();
            connection.nextSeq = connection.inFlight = connection.oldest = 0;
            uint64_t messages = phase.messageCount;
            if (!m_options.echo && r < static_cast<size_t>(plan.senders))
                messages -= static_cast<uint64_t>(plan.messages);
            connection.expected = messages * static_cast<uint64_t>(m_options.bytes);
            if (connection.expected == 0)
                ++phase.satisfied;
        }
        ProcessSample start = sampleProcess(m_options.serverPid);
        uint64_t segmentsBefore = tcpSegmentsSent();
        if (plan.rate > 0)
            pacedLoad();
        else
            windowLoad();
        ProcessSample end = sampleProcess(m_options.serverPid);
        report(start, end, tcpSegmentsSent() - segmentsBefore);
    }

    // As fast as the senders' windows allow; done when every receiver has all its bytes.
    void windowLoad()
    {
        PhaseState& phase = m_phase;
        phase.start = nowNs();
        uint64_t deadline = phase.start + static_cast<uint64_t>(phase.plan.timeoutSeconds * 1e9);
        while (phase.satisfied < m_connections.size()) {
            feedSenders();
            if (nowNs() >= deadline) {
                phase.end = deadline;
                return;
            }
            pump(sendersWaiting() ? 1 : 50);
        }
        phase.end = phase.lastSatisfied;
        phase.complete = true;
    }

    // Each sender sends on a fixed schedule whatever the relay does, while the frozen clients
    // flood; done when every message has reached every receiver, or a while after the last
    // send. Messages missing then are lost.
    void pacedLoad()
    {
        PhaseState& phase = m_phase;
        const PhasePlan& plan = phase.plan;
        double interval = 1e9 / (plan.rate * plan.senders); // between two sends of any sender
        phase.start = nowNs();
        uint64_t deadline = phase.start + static_cast<uint64_t>(plan.timeoutSeconds * 1e9);
        uint64_t lastSend = phase.start;
        size_t nextMessage = 0; // in the order of the schedule: sender = k % senders
        for (;;) {
            uint64_t now = nowNs();
            while (nextMessage < phase.messageCount
                && now >= phase.start + static_cast<uint64_t>(static_cast<double>(nextMessage) * interval)) {
                int s = static_cast<int>(nextMessage % static_cast<size_t>(plan.senders));
                sendNext(m_connections[static_cast<size_t>(s)], static_cast<uint32_t>(s));
                lastSend = nowNs();
                ++nextMessage;
            }
            for (int s = 0; s < plan.senders; ++s) {
                Connection& sender = m_connections[static_cast<size_t>(s)];
                if (!sender.pending.empty())
                    flush(sender);
            }
            bool flooding = flood();
            if (flooding)
                lastSend = std::max(lastSend, m_lastFloodSend);
            bool allSent = nextMessage == phase.messageCount;
            if (allSent && phase.latencies.size() == phase.messageCount && !flooding && floodsArrived()) {
                phase.complete = true;
                break;
            }
            if (now >= deadline || (allSent && !flooding && now >= lastSend + kRateGraceNs))
                break;
            uint64_t due = allSent ? now + 10 * kNsPerMs
                                   : phase.start + static_cast<uint64_t>(static_cast<double>(nextMessage) * interval);
            // A flood or a full sender socket is pushed again a millisecond later at most.
            int waitMs = static_cast<int>(std::min<uint64_t>((due > now ? due - now : 0) / kNsPerMs, 10));
            if (flooding || sendersWaiting())
                waitMs = std::min(waitMs, 1);
            pump(waitMs);
        }
        phase.end = nowNs();
    }

    // The frozen clients send what the relay takes of their floods; true while any is left.
    bool flood()
    {
        const std::string& pattern = floodPattern();
        bool left = false;
        for (FrozenClient& frozen : m_frozen) {
            while (frozen.floodLeft > 0) {
                size_t offset = (m_options.floodBytes - frozen.floodLeft) % pattern.size();
                size_t length = std::min<uint64_t>(pattern.size() - offset, frozen.floodLeft);
                ssize_t n = send(frozen.fd, pattern.data() + offset, length, MSG_NOSIGNAL);
                if (n <= 0) {
                    if (n < 0 && errno != EAGAIN && errno != EINTR)
                        frozen.floodLeft = 0; // the relay dropped it
                    break;
                }
                frozen.floodLeft -= static_cast<uint64_t>(n);
                m_lastFloodSend = nowNs();
            }
            left = left || frozen.floodLeft > 0;
        }
        return left;
    }

    // Every reading client has every flood's bytes.
    bool floodsArrived() const
    {
        for (const Connection& connection : m_connections) {
            if (connection.received - std::min(connection.received, connection.messageBytes) < m_floodTotal)
                return false;
        }
        return true;
    }

    bool sendersWaiting() const
    {
        for (int s = 0; s < m_phase.plan.senders; ++s) {
            if (!m_connections[static_cast<size_t>(s)].pending.empty())
                return true;
        }
        return false;
    }

    void feedSenders()
    {
        PhaseState& phase = m_phase;
        uint64_t now = nowNs();
        for (int s = 0; s < phase.plan.senders; ++s) {
            Connection& sender = m_connections[static_cast<size_t>(s)];
            // A message that a relay lost or garbled for some receiver never completes; after a
            // while its sender goes on without it, so one loss cannot stall the run.
            while (sender.oldest < sender.nextSeq) {
                size_t i = index(static_cast<uint32_t>(s), sender.oldest);
                if (!phase.settled[i] && now - phase.sentAt[i] < kGiveUpNs)
                    break;
                if (!phase.settled[i]) {
                    settle(i);
                    ++phase.givenUp;
                }
                ++sender.oldest;
            }
            if (!sender.pending.empty() && !flush(sender))
                continue;
            while (sender.open && sender.inFlight < static_cast<uint32_t>(phase.plan.window)
                && sender.nextSeq < static_cast<uint32_t>(phase.plan.messages)) {
                if (!sendNext(sender, static_cast<uint32_t>(s)))
                    break;
            }
        }
    }

    // Sends the sender's next message; false when the socket did not take all of it.
    bool sendNext(Connection& sender, uint32_t s)
    {
        PhaseState& phase = m_phase;
        uint32_t seq = sender.nextSeq++;
        uint64_t sentAt = nowNs();
        phase.sentAt[index(s, seq)] = sentAt;
        ++phase.sent;
        std::string message(static_cast<size_t>(m_options.bytes), 'x');
        encode(message.data(), s, seq, phase.plan.id, sentAt);
        ++sender.inFlight;
        return sendMessage(sender, std::move(message));
    }

    // Returns whether the whole message went out; what did not waits in pending.
    bool sendMessage(Connection& connection, std::string message)
    {
        connection.pending += message;
        return flush(connection);
    }

    bool flush(Connection& connection)
    {
        while (!connection.pending.empty() && connection.open) {
            ssize_t n = send(connection.fd, connection.pending.data(), connection.pending.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    lose(connection);
                return false;
            }
            if (static_cast<size_t>(n) < connection.pending.size())
                ++m_phase.partialSends;
            connection.pending.erase(0, static_cast<size_t>(n));
        }
        return connection.pending.empty();
    }

    void pump(int timeoutMs)
    {
        epoll_event events[kMaxEvents];
        int count = epoll_wait(m_epoll, events, kMaxEvents, timeoutMs);
        for (int i = 0; i < count; ++i)
            drain(m_connections[events[i].data.u64]);
    }

    void drain(Connection& connection)
    {
        // A few reads per readiness: enough to empty a busy socket, few enough to stay fair.
        for (int round = 0; round < 4 && connection.open; ++round) {
            ssize_t n = recv(connection.fd, m_buffer.data(), m_buffer.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                lose(connection);
                return;
            }
            if (n < 0)
                return;
            uint64_t arrival = nowNs();
            // Acknowledge at once, as a client that answers would: a delayed ACK would hold the
            // relay's next small send back by its Nagle wait and measure that instead of it.
            int one = 1;
            setsockopt(connection.fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            m_bytesSeen += static_cast<uint64_t>(n);
            bool wasSatisfied = connection.expected && connection.received >= connection.expected;
            connection.received += static_cast<uint64_t>(n);
            if (connection.expected && !wasSatisfied && connection.received >= connection.expected) {
                ++m_phase.satisfied;
                m_phase.lastSatisfied = arrival;
            }
            parse(connection, m_buffer.data(), static_cast<size_t>(n), arrival);
            if (static_cast<size_t>(n) < m_buffer.size())
                return;
        }
    }

    void lose(Connection& connection)
    {
        if (!connection.open)
            return;
        connection.open = false;
        ++m_lostConnections;
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
        std::fprintf(stderr, "chatroom-load: the relay closed a connection\n");
    }

    void parse(Connection& connection, const char* data, size_t size, uint64_t arrival)
    {
        size_t receiver = static_cast<size_t>(&connection - m_connections.data());
        if (!connection.tail.empty()) {
            connection.tail.append(data, size);
            size_t used = cut(receiver, connection.tail.data(), connection.tail.size(), arrival);
            connection.tail.erase(0, used);
            return;
        }
        size_t used = cut(receiver, data, size, arrival);
        connection.tail.assign(data + used, size - used);
    }

    // Handles the whole messages at the start of the bytes; returns how many bytes it used.
    size_t cut(size_t receiver, const char* data, size_t size, uint64_t arrival)
    {
        size_t bytes = static_cast<size_t>(m_options.bytes);
        size_t at = 0;
        while (size - at >= sizeof kMagic) {
            if (std::memcmp(data + at, kMagic, sizeof kMagic) != 0) {
                ++m_phase.resyncs;
                const void* next = memmem(data + at + 1, size - at - 1, kMagic, sizeof kMagic);
                if (!next)
                    return size - (sizeof kMagic - 1); // the magic may start in the last bytes
                at = static_cast<size_t>(static_cast<const char*>(next) - data);
                continue;
            }
            if (size - at < bytes)
                break;
            uint32_t sender, seq, phase;
            std::memcpy(&sender, data + at + 4, 4);
            std::memcpy(&seq, data + at + 8, 4);
            std::memcpy(&phase, data + at + 12, 4);
            arrived(receiver, sender, seq, phase, arrival);
            at += bytes;
        }
        return at;
    }

    void arrived(size_t receiver, uint32_t sender, uint32_t seq, uint32_t phaseId, uint64_t arrival)
    {
        PhaseState& phase = m_phase;
        if (sender & kProbeFlag) {
            uint32_t p = sender & ~kProbeFlag;
            if (p < 2)
                m_connections[receiver].lastProbe[p] = std::max<int64_t>(m_connections[receiver].lastProbe[p], seq);
            return;
        }
        if (phaseId != phase.plan.id) {
            ++phase.stale;
            return;
        }
        if (sender >= static_cast<uint32_t>(phase.plan.senders) || seq >= static_cast<uint32_t>(phase.plan.messages)) {
            ++phase.garbled;
            return;
        }
        size_t i = index(sender, seq);
        m_connections[receiver].messageBytes += static_cast<uint64_t>(m_options.bytes);
        if (++phase.arrivals[i] != phase.receiversPerMessage)
            return;
        phase.latencies.push_back(arrival - phase.sentAt[i]);
        if (!phase.settled[i])
            settle(i);
    }

    void settle(size_t i)
    {
        m_phase.settled[i] = 1;
        --m_connections[i / static_cast<size_t>(m_phase.plan.messages)].inFlight;
    }

    size_t index(uint32_t sender, uint32_t seq) const
    {
        return static_cast<size_t>(sender) * static_cast<size_t>(m_phase.plan.messages) + seq;
    }

    static void encode(char* out, uint32_t sender, uint32_t seq, uint32_t phase, uint64_t sentAt)
    {
        std::memcpy(out, kMagic, sizeof kMagic);
        std::memcpy(out + 4, &sender, 4);
        std::memcpy(out + 8, &seq, 4);
        std::memcpy(out + 12, &phase, 4);
        std::memcpy(out + 16, &sentAt, 8);
    }

    // The latency at a rank among `total` messages; those that never completed count as
    // slower than any that did, and a rank among them gives -1 (lost).
    static double percentileUs(const std::vector<uint64_t>& sorted, size_t total, double fraction)
    {
        if (total == 0)
            return 0;
        size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(total)));
        rank = std::clamp<size_t>(rank, 1, total);
        if (rank > sorted.size())
            return -1;
        return static_cast<double>(sorted[rank - 1]) / 1000.0;
    }

    void report(const ProcessSample& start, const ProcessSample& end, uint64_t segments)
    {
        PhaseState& phase = m_phase;
        const PhasePlan& plan = phase.plan;
        bool paced = plan.rate > 0;
        uint64_t deliveredBytes = 0, extraBytes = 0;
        for (const Connection& connection : m_connections) {
            deliveredBytes += std::min(connection.received, connection.expected);
            if (connection.received > connection.expected)
                extraBytes += connection.received - connection.expected;
        }
        // A paced run's receivers also get the floods: only whole messages count there.
        uint64_t deliveries = paced ? phase.latencies.size() * phase.receiversPerMessage
                                    : deliveredBytes / static_cast<uint64_t>(m_options.bytes);
        double wall = static_cast<double>(phase.end - phase.start) / 1e9;
        double rate = wall > 0 ? static_cast<double>(deliveries) / wall : 0;
        std::sort(phase.latencies.begin(), phase.latencies.end());
        // A paced run counts what it sent, lost messages among them; a window run the
        // latencies it has, as before.
        size_t total = paced ? phase.sent : phase.latencies.size();
        uint64_t lost = paced ? phase.sent - phase.latencies.size() : 0;
        double p50 = percentileUs(phase.latencies, total, 0.50), p99 = percentileUs(phase.latencies, total, 0.99);
        double max = percentileUs(phase.latencies, total, 1.0);
        uint64_t incomplete = phase.messageCount - phase.latencies.size();
        double cpu = end.cpuSeconds - start.cpuSeconds;
        // The floods' bytes that the reading client with the fewest of them received.
        uint64_t floodReceivedMin = m_floodTotal;
        for (const Connection& connection : m_connections)
            floodReceivedMin = std::min(floodReceivedMin, connection.received - std::min(connection.received, connection.messageBytes));

        std::printf("result server=%s phase=%s clients=%d frozen=%d flood_bytes=%" PRIu64 " senders=%d messages=%d bytes=%d "
                    "echo=%s window=%d rate=%g complete=%d wall_s=%.4f deliveries=%" PRIu64 " deliveries_per_s=%.0f "
                    "lat_p50_us=%.1f lat_p99_us=%.1f lat_max_us=%.1f lost_msgs=%" PRIu64 " incomplete_msgs=%" PRIu64
                    " given_up=%" PRIu64 " resyncs=%" PRIu64 " garbled=%" PRIu64 " stale=%" PRIu64 " partial_sends=%" PRIu64
                    " extra_bytes=%" PRIu64 " lost_connections=%" PRIu64 " server_cpu_s=%.2f server_rss_kib=%ld server_hwm_kib=%ld"
                    " segments_per_delivery=%.2f flooders=%d flood_total_bytes=%" PRIu64 " flood_received_min_bytes=%" PRIu64 "\n",
            m_options.label.c_str(), phaseName(plan.id), static_cast<int>(m_connections.size()), m_options.frozen,
            m_options.floodBytes, plan.senders, plan.messages, m_options.bytes, m_options.echo ? "yes" : "no",
            plan.window, plan.rate, phase.complete ? 1 : 0, wall, deliveries, rate, p50, p99, max, lost, incomplete,
            phase.givenUp, phase.resyncs, phase.garbled, phase.stale, phase.partialSends, extraBytes, m_lostConnections,
            cpu, end.rssKib, end.hwmKib, deliveries > 0 ? static_cast<double>(segments) / static_cast<double>(deliveries) : 0.0,
            m_options.flooders < 0 ? m_options.frozen : m_options.flooders, m_floodTotal, floodReceivedMin);
        std::printf("%s, %s: %d clients (+%d frozen), %d senders x %d messages of %d B: %.0f deliveries/s in %.3f s; "
                    "latency to the last receiver p50 %.1f us, p99 %.1f us, max %.1f us (-1: lost)%s\n",
            m_options.label.c_str(), phaseName(plan.id), static_cast<int>(m_connections.size()), m_options.frozen,
            plan.senders, plan.messages, m_options.bytes, rate, wall, p50, p99, max,
            phase.complete ? "" : " (INCOMPLETE: time limit reached)");
    }

    const Options& m_options;
    PhaseState m_phase;
    std::vector<char> m_buffer;
    std::vector<Connection> m_connections;
    std::vector<FrozenClient> m_frozen;
    int m_epoll = -1;
    uint64_t m_bytesSeen = 0;
    uint64_t m_lostConnections = 0;
    uint64_t m_floodTotal = 0;
    uint64_t m_lastFloodSend = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options = parseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    raiseFileLimit();
    if (options.idleClients > 0)
        return measureIdleMemory(options);
    if (options.floodBytes > 0 && options.frozen == 0)
        return measureFlood(options);
    LoadRun run(options);
    return run.run();
}
