// The load generator's reading clients (see LoadClients.h).
#include "LoadClients.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr size_t kReadSize = 64 * 1024;
constexpr int kMaxEvents = 512;
// A few reads per readiness: enough to empty a busy socket, few enough to stay fair.
constexpr int kReadsPerReadiness = 4;
// Between two phases: the relay is quiet when nothing has arrived for this long.
constexpr int kQuietMs = 200;
constexpr uint64_t kQuietLimitNs = 5 * kNsPerSecond;
constexpr uint64_t kWarmUpNs = 15 * kNsPerSecond;
constexpr uint64_t kProbeEveryNs = 50 * kNsPerMs;
constexpr int kWarmUpPumpMs = 10;

} // namespace

ClientSet::ClientSet(const Options& options)
    : m_options(options)
    , m_buffer(kReadSize)
    , m_epoll(epoll_create1(0))
{
}

ClientSet::~ClientSet()
{
    closeAll();
    if (m_epoll >= 0)
        close(m_epoll);
}

void ClientSet::adopt(const std::vector<int>& fds)
{
    for (int fd : fds) {
        epoll_event event { .events = EPOLLIN, .data = { .u64 = m_connections.size() } };
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        Connection connection;
        connection.fd = fd;
        m_connections.push_back(std::move(connection));
    }
}

// A connect succeeds before the relay has accepted it, so the load starts only when a probe
// has reached every client: the relay has the whole room then, and later probes reach all.
// Probes come from client 0 (and, when the relay does not echo, from client 1 so that client
// 0 hears one too). Once the last probe has arrived everywhere nothing is on the way.
bool ClientSet::warmUp()
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
        pump(kWarmUpPumpMs);
    }
    int64_t last[2] = { static_cast<int64_t>(probesSent[0]) - 1, static_cast<int64_t>(probesSent[1]) - 1 };
    while (!everybodyHeard(probeSenders, last)) {
        if (nowNs() >= deadline)
            return false;
        pump(kWarmUpPumpMs);
    }
    return m_lostConnections == 0;
}

// Whether every open client has heard any probe (last == nullptr) or the given last probes.
bool ClientSet::everybodyHeard(int probeSenders, const int64_t* last) const
{
    for (size_t r = 0; r < m_connections.size(); ++r) {
        if (!m_connections[r].open)
            continue;
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

void ClientSet::sendProbe(int p, uint32_t seq)
{
    MessageHeader header { kProbeFlag | static_cast<uint32_t>(p), seq, 0, nowNs() };
    sendMessage(m_connections[static_cast<size_t>(p)], makeMessage(static_cast<size_t>(m_options.bytes), header));
}

void ClientSet::waitUntilQuiet()
{
    uint64_t limit = nowNs() + kQuietLimitNs;
    while (nowNs() < limit) {
        uint64_t before = m_bytesSeen;
        pump(kQuietMs);
        if (m_bytesSeen == before)
            return;
    }
}

bool ClientSet::sendMessage(Connection& connection, const std::string& message)
{
    connection.pending += message;
    return flush(connection);
}

bool ClientSet::flush(Connection& connection)
{
    while (!connection.pending.empty() && connection.open) {
        ssize_t n = writeRoomBytes(connection, connection.pending.data(), connection.pending.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                lose(connection);
            return false;
        }
        if (static_cast<size_t>(n) < connection.pending.size())
            ++m_partialSends;
        connection.pending.erase(0, static_cast<size_t>(n));
    }
    return connection.pending.empty();
}

void ClientSet::pump(int timeoutMs)
{
    epoll_event events[kMaxEvents];
    int count = epoll_wait(m_epoll, events, kMaxEvents, timeoutMs);
    for (int i = 0; i < count; ++i)
        drain(m_connections[events[i].data.u64]);
}

void ClientSet::drain(Connection& connection)
{
    size_t client = static_cast<size_t>(&connection - m_connections.data());
    for (int round = 0; round < kReadsPerReadiness && connection.open; ++round) {
        ssize_t n = readRoomBytes(connection, m_buffer.data(), m_buffer.size());
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
        connection.received += static_cast<uint64_t>(n);
        if (m_listener)
            m_listener->bytesArrived(client, static_cast<uint64_t>(n), arrival);
        connection.cutter.feed(static_cast<size_t>(m_options.bytes), m_buffer.data(), static_cast<size_t>(n),
            [&](const MessageHeader& header) {
                if (header.sender & kProbeFlag) {
                    uint32_t p = header.sender & ~kProbeFlag;
                    if (p < 2)
                        connection.lastProbe[p] = std::max<int64_t>(connection.lastProbe[p], header.seq);
                } else if (m_listener) {
                    m_listener->messageArrived(client, header, arrival);
                }
            });
        if (static_cast<size_t>(n) < m_buffer.size())
            return;
    }
}

void ClientSet::lose(Connection& connection)
{
    if (!connection.open)
        return;
    connection.open = false;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
    if (connection.leaving)
        return;
    ++m_lostConnections;
    std::fprintf(stderr, "chatroom-load: the relay closed a connection\n");
}

void ClientSet::closeClient(size_t client)
{
    Connection& connection = m_connections[client];
    connection.leaving = true;
    lose(connection);
    close(std::exchange(connection.fd, -1));
}

void ClientSet::closeAll()
{
    std::vector<int> fds;
    for (Connection& connection : m_connections) {
        if (connection.fd >= 0)
            fds.push_back(std::exchange(connection.fd, -1));
    }
    closeInOrder(fds);
}

uint64_t ClientSet::resyncs() const
{
    uint64_t total = 0;
    for (const Connection& connection : m_connections)
        total += connection.cutter.resyncs();
    return total;
}

ssize_t ClientSet::readRoomBytes(Connection& connection, char* buffer, size_t size)
{
    return recv(connection.fd, buffer, size, 0);
}

ssize_t ClientSet::writeRoomBytes(Connection& connection, const char* data, size_t size)
{
    return send(connection.fd, data, size, MSG_NOSIGNAL);
}
