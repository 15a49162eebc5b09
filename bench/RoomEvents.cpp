// How long one event holds the room. In a room of N clients that do nothing else, client 0
// says a line, one at a time, and the time until the line has reached every client is taken:
//   - the room's first line: N clients have joined, nobody has been sent anything yet, and
//     the room has been quiet for --pause-ms;
//   - chat lines, one after the other: the fan-out of one line, and how long a chat line holds
//     the room (the yardstick of the events below): from its send until a line said as soon as
//     any client has heard it has reached everybody, the way a leave is timed;
//   - a line after a pause of --pause-ms in a room that has talked before, to the first and
//     to the last client;
//   - a leave: a client closes its connection, and once the room has been told (any bytes that
//     are not a line reach a client) the line is said: from the close to the line's last
//     arrival, the leave's whole cost plus one line;
//   - a kick, the same through the administrator's control socket (--control-socket): from
//     the request to the line's last arrival.
// Only our relay tells the room of a leave and takes kicks; the others are not measured here.
#include "LoadClients.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cinttypes>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kLineLimitNs = 20 * kNsPerSecond;
constexpr uint64_t kNoticeLimitNs = 5 * kNsPerSecond;
constexpr int kGapMs = 20;
constexpr int kPumpMs = 1;
constexpr int kAllAcceptedLimitMs = 20000;
constexpr int kControlTimeoutSeconds = 10;
constexpr double kNsPerUs = 1000.0;

// When one line reached the room, in ns after it was sent (or after its event began).
struct Spread {
    int64_t first = -1;
    int64_t last = -1; // -1: some client never got it
};

struct Figures {
    std::vector<int64_t> values;
    void add(int64_t value) { values.push_back(value); }
    // The median (the lower of the two middle ones) and the largest, in microseconds; -1 when
    // a line was lost.
    double medianUs() const { return pick(false); }
    double maxUs() const { return pick(true); }

private:
    double pick(bool largest) const
    {
        if (values.empty())
            return -1;
        std::vector<int64_t> sorted = values;
        std::sort(sorted.begin(), sorted.end(), [](int64_t a, int64_t b) { return (a < 0 ? INT64_MAX : a) < (b < 0 ? INT64_MAX : b); });
        int64_t value = largest ? sorted.back() : sorted[(sorted.size() - 1) / 2];
        return value < 0 ? -1 : static_cast<double>(value) / kNsPerUs;
    }
};

class RoomEvents : private ClientListener {
public:
    explicit RoomEvents(const Options& options)
        : m_options(options)
        , m_clients(options)
    {
        m_clients.setListener(this);
    }

    int run()
    {
        ProcessSample idle = sampleProcess(m_options.serverPid);
        std::vector<int> fds;
        bool connected = connectAll(m_options, m_options.clients, fds);
        m_clients.adopt(fds);
        m_heard.assign(fds.size(), 0);
        if (!connected)
            return 1;
        // The room's first line: once the relay holds every connection, and after a pause.
        if (idle.socketCount >= 0)
            waitForServerSockets(m_options.serverPid, idle.socketCount + m_options.clients, true, kAllAcceptedLimitMs);
        pumpFor(m_options.pauseMs);
        ProcessSample start = sampleProcess(m_options.serverPid);
        Spread firstLine = sayLine(nowNs());
        if (!m_clients.warmUp()) {
            std::fprintf(stderr, "chatroom-load: the relay did not get every client into its room in time\n");
            return 1;
        }
        Figures chat, chatHeld, quietFirst, quietLast, leave, kick;
        for (int k = 0; k < m_options.events; ++k) {
            chat.add(sayLine(nowNs()).last);
            pumpFor(kGapMs);
        }
        for (int k = 0; k < m_options.events; ++k) {
            uint64_t begin = nowNs();
            sendLine();
            chatHeld.add(lineAfterNotice(begin, SIZE_MAX));
            pumpFor(kGapMs);
        }
        for (int k = 0; k < m_options.events; ++k) {
            pumpFor(m_options.pauseMs);
            Spread spread = sayLine(nowNs());
            quietFirst.add(spread.first);
            quietLast.add(spread.last);
        }
        // The clients that leave and are kicked are the first after the speaker: the front of
        // the roster, where removing an entry moves all the others.
        size_t next = 1;
        for (int k = 0; k < m_options.events; ++k) {
            uint64_t begin = nowNs();
            m_clients.closeClient(next++);
            leave.add(lineAfterNotice(begin, SIZE_MAX));
            pumpFor(kGapMs);
        }
        for (int k = 0; k < m_options.events && !m_options.controlSocket.empty(); ++k)
            kick.add(kickClient(next++));
        ProcessSample end = sampleProcess(m_options.serverPid);

        std::printf("result server=%s phase=events clients=%d events=%d pause_ms=%d first_line_first_us=%.1f "
                    "first_line_last_us=%.1f chat_us=%.1f chat_max_us=%.1f chat_held_us=%.1f quiet_first_us=%.1f quiet_first_max_us=%.1f "
                    "quiet_last_us=%.1f leave_us=%.1f leave_max_us=%.1f",
            m_options.label.c_str(), m_options.clients, m_options.events, m_options.pauseMs, usOf(firstLine.first),
            usOf(firstLine.last), chat.medianUs(), chat.maxUs(), chatHeld.medianUs(), quietFirst.medianUs(), quietFirst.maxUs(),
            quietLast.medianUs(), leave.medianUs(), leave.maxUs());
        if (!kick.values.empty())
            std::printf(" kick_us=%.1f kick_max_us=%.1f", kick.medianUs(), kick.maxUs());
        std::printf(" failed_kicks=%d lost_connections=%" PRIu64 " server_cpu_s=%.6f\n", m_failedKicks,
            m_clients.lostConnections(), end.cpuSeconds - start.cpuSeconds);
        std::printf("%s, events in a room of %d: first line %.0f us to the first client, %.0f us to the last; a chat line "
                    "%.0f us; after a pause %.0f us to the first, %.0f us to the last; a leave holds the room %.0f us%s\n",
            m_options.label.c_str(), m_options.clients, usOf(firstLine.first), usOf(firstLine.last), chat.medianUs(),
            quietFirst.medianUs(), quietLast.medianUs(), leave.medianUs(),
            kick.values.empty() ? "" : (", a kick " + std::to_string(static_cast<long>(kick.medianUs())) + " us").c_str());
        m_clients.closeAll();
        return m_clients.lostConnections() == 0 && m_failedKicks == 0 ? 0 : 1;
    }

private:
    static double usOf(int64_t ns) { return ns < 0 ? -1 : static_cast<double>(ns) / kNsPerUs; }

    void pumpFor(int ms)
    {
        uint64_t until = nowNs() + static_cast<uint64_t>(ms) * kNsPerMs;
        for (uint64_t now = nowNs(); now < until; now = nowNs())
            m_clients.pump(static_cast<int>((until - now + kNsPerMs - 1) / kNsPerMs));
    }

    // Client 0 says a line; returns when it reached every open client, timed from `begin`.
    Spread sayLine(uint64_t begin)
    {
        size_t receivers = sendLine();
        return awaitLine(begin, receivers);
    }

    // Client 0 sends the next line; returns how many clients the room will send it to.
    size_t sendLine()
    {
        ++m_seq;
        std::fill(m_heard.begin(), m_heard.end(), 0);
        m_heardCount = 0;
        m_firstArrival = 0;
        m_lastArrival = 0;
        // A kicked client may still be open, but the room no longer sends it lines.
        size_t receivers = 0;
        for (const Connection& connection : m_clients.connections())
            receivers += connection.open && !connection.leaving ? 1 : 0;
        MessageHeader header { 0, m_seq, kEvents, nowNs() };
        Connection& speaker = m_clients.connections()[0];
        m_clients.sendMessage(speaker, makeMessage(static_cast<size_t>(m_options.bytes), header));
        return receivers;
    }

    // Waits until the line last sent has reached `receivers` clients (or the limit), timed from `begin`.
    Spread awaitLine(uint64_t begin, size_t receivers)
    {
        Connection& speaker = m_clients.connections()[0];
        uint64_t limit = nowNs() + kLineLimitNs;
        while (m_heardCount < receivers && nowNs() < limit) {
            if (!speaker.pending.empty())
                m_clients.flush(speaker);
            m_clients.pump(kPumpMs);
        }
        Spread spread;
        if (m_firstArrival)
            spread.first = static_cast<int64_t>(m_firstArrival - begin);
        if (m_heardCount >= receivers)
            spread.last = static_cast<int64_t>(m_lastArrival - begin);
        return spread;
    }

    // After an event that the room is told of: once any client but `except` has heard of it,
    // client 0 says a line; the time from `begin` until that line has reached everybody.
    int64_t lineAfterNotice(uint64_t begin, size_t except)
    {
        m_noticeExcept = except;
        m_noticeHeard = false;
        uint64_t limit = nowNs() + kNoticeLimitNs;
        m_waitingForNotice = true;
        while (!m_noticeHeard && nowNs() < limit)
            m_clients.pump(kPumpMs);
        m_waitingForNotice = false;
        return sayLine(begin).last;
    }

    int64_t kickClient(size_t client)
    {
        Connection& kicked = m_clients.connections()[client];
        kicked.leaving = true;
        sockaddr_in address {};
        socklen_t length = sizeof address;
        getsockname(kicked.fd, reinterpret_cast<sockaddr*>(&address), &length);
        char host[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
        std::string request = "kick " + std::string(host) + ":" + std::to_string(ntohs(address.sin_port)) + "\n";
        int control = connectControl();
        if (control < 0) {
            ++m_failedKicks;
            return -1;
        }
        uint64_t begin = nowNs();
        bool sent = send(control, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
        int64_t hold = sent ? lineAfterNotice(begin, client) : -1;
        char answer[256] = {};
        ssize_t n = sent ? recv(control, answer, sizeof answer - 1, 0) : -1;
        close(control);
        if (n < 2 || std::string_view(answer, 2) != "ok") {
            std::fprintf(stderr, "chatroom-load: the kick of %s was answered: %s\n", request.c_str(), n > 0 ? answer : "(nothing)");
            ++m_failedKicks;
        }
        pumpFor(kGapMs);
        return hold;
    }

    int connectControl() const
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (m_options.controlSocket.size() >= sizeof address.sun_path)
            return -1;
        m_options.controlSocket.copy(address.sun_path, sizeof address.sun_path - 1);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        timeval limit { .tv_sec = kControlTimeoutSeconds, .tv_usec = 0 };
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::perror("chatroom-load: the control socket");
            close(fd);
            return -1;
        }
        return fd;
    }

    void bytesArrived(size_t client, uint64_t, uint64_t) override
    {
        if (m_waitingForNotice && client != m_noticeExcept)
            m_noticeHeard = true;
    }

    void messageArrived(size_t client, const MessageHeader& header, uint64_t arrival) override
    {
        if (header.phase != kEvents || header.seq != m_seq || m_heard[client])
            return;
        m_heard[client] = 1;
        ++m_heardCount;
        if (!m_firstArrival)
            m_firstArrival = arrival;
        m_lastArrival = arrival;
    }

    const Options& m_options;
    ClientSet m_clients;
    std::vector<uint8_t> m_heard;
    size_t m_heardCount = 0;
    uint32_t m_seq = 0;
    uint64_t m_firstArrival = 0;
    uint64_t m_lastArrival = 0;
    bool m_waitingForNotice = false;
    bool m_noticeHeard = false;
    size_t m_noticeExcept = SIZE_MAX;
    int m_failedKicks = 0;
};

} // namespace

int measureRoomEvents(const Options& options)
{
    RoomEvents events(options);
    return events.run();
}
