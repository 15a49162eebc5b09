// The relay load (see LoadRun.h): connecting the room, the phases and their pacing.
#include "LoadRun.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// A message that a relay lost or garbled for some receiver never completes; after this long
// its sender goes on without it, so one loss cannot stall the run.
constexpr uint64_t kGiveUpNs = 2 * kNsPerSecond;
// A paced run waits this long after its last send for the messages still on their way.
constexpr uint64_t kRateGraceNs = 3 * kNsPerSecond;
// A frozen reader's receive buffer: its connection is full after a few kilobytes.
constexpr int kFrozenReceiveBuffer = 4096;
constexpr int kIdlePumpMs = 50;
constexpr int kBusyPumpMs = 1;
constexpr int kPacedPumpMaxMs = 10;
// How far the floods may run ahead of their slowest reader: half of what the relay queues for
// one client at the most (DeliveryBudget::kClientCap, 8 MiB; the load generator stands apart
// from the relay's code, since it measures the other relays too).
constexpr uint64_t kFloodLeadBytes = 4 * 1024 * 1024;

void closeFloodClients(std::vector<FloodClient>& clients)
{
    std::vector<int> fds;
    for (FloodClient& client : clients) {
        if (client.fd >= 0)
            fds.push_back(std::exchange(client.fd, -1));
    }
    closeInOrder(fds);
}

} // namespace

LoadRun::LoadRun(const Options& options)
    : m_options(options)
    , m_clients(options)
{
    m_clients.setListener(this);
}

LoadRun::~LoadRun()
{
    closeFloodClients(m_frozen);
}

int LoadRun::run()
{
    // The frozen clients come first: a relay takes connections in order, so once the measured
    // clients are in its room, so are they.
    std::vector<int> frozenFds, fds;
    bool connected = connectAll(m_options, m_options.frozen, frozenFds, kFrozenReceiveBuffer)
        && connectAll(m_options, m_options.clients, fds);
    for (int fd : frozenFds) {
        bool floods = m_options.flooders < 0 || static_cast<int>(m_frozen.size()) < m_options.flooders;
        m_frozen.push_back(FloodClient { fd, floods ? m_options.floodBytes : 0, 0 });
        m_floodTotal += floods ? m_options.floodBytes : 0;
    }
    m_clients.adopt(fds);
    if (!connected)
        return 1;
    if (!m_clients.warmUp()) {
        std::fprintf(stderr, "chatroom-load: the relay did not get every client into its room in time\n");
        return 1;
    }
    if (m_options.fanoutMessages > 0) {
        runPhase({ kFanout, 1, m_options.fanoutMessages, 1, 0, m_options.timeoutSeconds });
        m_clients.waitUntilQuiet();
    }
    if (m_options.rate > 0)
        runPhase({ kRate, m_options.senders, m_options.messages, m_options.messages, m_options.rate, m_options.timeoutSeconds });
    else
        runPhase({ kLoad, m_options.senders, m_options.messages, m_options.window, 0, m_options.timeoutSeconds });

    // The relay is stopped after the measurement: it need not be waited for while it sees
    // the room leave (which costs ours a notice to everybody still there, each time).
    closeFloodClients(m_frozen);
    m_clients.closeAll();
    return m_clients.lostConnections() == 0 ? 0 : 1;
}

void LoadRun::runPhase(const PhasePlan& plan)
{
    PhaseState& phase = m_phase;
    phase = PhaseState {};
    phase.plan = plan;
    phase.messageCount = static_cast<size_t>(plan.senders) * static_cast<size_t>(plan.messages);
    phase.receiversPerMessage = static_cast<uint32_t>(m_options.echo ? m_clients.size() : m_clients.size() - 1);
    phase.sentAt.assign(phase.messageCount, 0);
    phase.arrivals.assign(phase.messageCount, 0);
    phase.settled.assign(phase.messageCount, 0);
    phase.resyncsBefore = m_clients.resyncs();
    phase.partialSendsBefore = m_clients.partialSends();
    for (size_t r = 0; r < m_clients.size(); ++r) {
        Connection& connection = m_clients.connections()[r];
        connection.received = 0;
        connection.cutter.reset();
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
void LoadRun::windowLoad()
{
    PhaseState& phase = m_phase;
    phase.start = nowNs();
    uint64_t deadline = phase.start + static_cast<uint64_t>(phase.plan.timeoutSeconds * 1e9);
    while (phase.satisfied < m_clients.size()) {
        feedSenders();
        if (nowNs() >= deadline) {
            phase.end = deadline;
            return;
        }
        m_clients.pump(sendersWaiting() ? kBusyPumpMs : kIdlePumpMs);
    }
    phase.end = phase.lastSatisfied;
    phase.complete = true;
}

// Each sender sends on a fixed schedule whatever the relay does, while the floods go out;
// done when every message and every flood byte has reached every reading client, or when
// nothing has been sent or has arrived for a while (messages missing then are lost), or at the
// time limit.
void LoadRun::pacedLoad()
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
            sendNext(m_clients.connections()[static_cast<size_t>(s)], static_cast<uint32_t>(s));
            lastSend = nowNs();
            ++nextMessage;
        }
        for (int s = 0; s < plan.senders; ++s) {
            Connection& sender = m_clients.connections()[static_cast<size_t>(s)];
            if (!sender.pending.empty())
                m_clients.flush(sender);
        }
        bool flooding = flood();
        bool allSent = nextMessage == phase.messageCount;
        if (allSent && !flooding && phase.latencies.size() == phase.messageCount && floodDelivered()) {
            phase.complete = true;
            break;
        }
        uint64_t lastProgress = std::max(lastSend, m_lastArrival);
        if (now >= deadline || (allSent && !flooding && now >= lastProgress + kRateGraceNs))
            break;
        uint64_t due = allSent ? now + kPacedPumpMaxMs * kNsPerMs
                               : phase.start + static_cast<uint64_t>(static_cast<double>(nextMessage) * interval);
        // A flood or a full sender socket is pushed again a millisecond later at most.
        int waitMs = static_cast<int>(std::min<uint64_t>((due > now ? due - now : 0) / kNsPerMs, kPacedPumpMaxMs));
        if (flooding || sendersWaiting())
            waitMs = std::min(waitMs, kBusyPumpMs);
        m_clients.pump(waitMs);
    }
    phase.end = nowNs();
}

// The flood clients send what the relay takes of their floods, but never more than
// kFloodLeadBytes ahead of the reading client that has received the least of them: this one
// thread also reads for the pair, and a reader left that far behind by its own load generator
// would be a slow reader, whose queue the relay rightly cuts at its cap. True while any is left.
bool LoadRun::flood()
{
    const std::string& pattern = floodPattern();
    uint64_t sent = floodSent();
    uint64_t received = sent;
    for (const Connection& connection : m_clients.connections()) {
        if (connection.open)
            received = std::min(received, connection.cutter.floodBytes());
    }
    bool left = false;
    for (FloodClient& client : m_frozen) {
        while (client.floodLeft > 0 && sent < received + kFloodLeadBytes) {
            size_t offset = client.sent % pattern.size();
            size_t length = std::min<uint64_t>(pattern.size() - offset, client.floodLeft);
            ssize_t n = send(client.fd, pattern.data() + offset, length, MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    client.floodLeft = 0; // the relay dropped it
                break;
            }
            client.floodLeft -= static_cast<uint64_t>(n);
            client.sent += static_cast<uint64_t>(n);
            sent += static_cast<uint64_t>(n);
        }
        left = left || client.floodLeft > 0;
    }
    return left;
}

// Whether every reading client has every flood byte that was sent (a relay may drop a
// flooder before it sent everything: what it never took cannot arrive).
bool LoadRun::floodDelivered() const
{
    uint64_t sent = floodSent();
    for (const Connection& connection : m_clients.connections()) {
        if (connection.open && connection.cutter.floodBytes() < sent)
            return false;
    }
    return true;
}

uint64_t LoadRun::floodSent() const
{
    uint64_t sent = 0;
    for (const FloodClient& client : m_frozen)
        sent += client.sent;
    return sent;
}

bool LoadRun::sendersWaiting() const
{
    for (int s = 0; s < m_phase.plan.senders; ++s) {
        if (!m_clients.connections()[static_cast<size_t>(s)].pending.empty())
            return true;
    }
    return false;
}

void LoadRun::feedSenders()
{
    PhaseState& phase = m_phase;
    uint64_t now = nowNs();
    for (int s = 0; s < phase.plan.senders; ++s) {
        Connection& sender = m_clients.connections()[static_cast<size_t>(s)];
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
        if (!sender.pending.empty() && !m_clients.flush(sender))
            continue;
        while (sender.open && sender.inFlight < static_cast<uint32_t>(phase.plan.window)
            && sender.nextSeq < static_cast<uint32_t>(phase.plan.messages)) {
            if (!sendNext(sender, static_cast<uint32_t>(s)))
                break;
        }
    }
}

// Sends the sender's next message; false when the socket did not take all of it.
bool LoadRun::sendNext(Connection& sender, uint32_t s)
{
    PhaseState& phase = m_phase;
    uint32_t seq = sender.nextSeq++;
    uint64_t sentAt = nowNs();
    phase.sentAt[index(s, seq)] = sentAt;
    ++phase.sent;
    ++sender.inFlight;
    MessageHeader header { s, seq, phase.plan.id, sentAt };
    return m_clients.sendMessage(sender, makeMessage(static_cast<size_t>(m_options.bytes), header));
}

void LoadRun::bytesArrived(size_t client, uint64_t count, uint64_t arrival)
{
    m_lastArrival = arrival;
    const Connection& connection = m_clients.connections()[client];
    uint64_t before = connection.received - count;
    if (connection.expected && before < connection.expected && connection.received >= connection.expected) {
        ++m_phase.satisfied;
        m_phase.lastSatisfied = arrival;
    }
}

void LoadRun::messageArrived(size_t, const MessageHeader& header, uint64_t arrival)
{
    PhaseState& phase = m_phase;
    if (header.phase != phase.plan.id) {
        ++phase.stale;
        return;
    }
    if (header.sender >= static_cast<uint32_t>(phase.plan.senders) || header.seq >= static_cast<uint32_t>(phase.plan.messages)) {
        ++phase.garbled;
        return;
    }
    size_t i = index(header.sender, header.seq);
    if (++phase.arrivals[i] != phase.receiversPerMessage)
        return;
    phase.latencies.push_back(arrival - phase.sentAt[i]);
    if (!phase.settled[i])
        settle(i);
}

void LoadRun::settle(size_t i)
{
    m_phase.settled[i] = 1;
    --m_clients.connections()[i / static_cast<size_t>(m_phase.plan.messages)].inFlight;
}

size_t LoadRun::index(uint32_t sender, uint32_t seq) const
{
    return static_cast<size_t>(sender) * static_cast<size_t>(m_phase.plan.messages) + seq;
}
