// chatroom-load: the load generator of the relay benchmark.
//
// Connects N clients to a relay (ours, ncat --broker or reference-relay), waits until the relay
// has every one of them in its room, lets S of them send M messages of B bytes each and counts
// the bytes every receiver gets until each has all it should or the time limit passes. Reports
// deliveries per second (messages x receivers / wall time) and the latency from a send to its
// arrival at the last receiver. With --idle-clients K it instead measures the relay's resident
// memory per idle connection (VmRSS of --server-pid before and after K connections).
//
// The relays forward whatever one read gave them, so the wire carries no message boundaries.
// Counting bytes is therefore the truth for throughput; for latency each receiver cuts its byte
// stream into B-byte messages that start with a magic, the sender and a sequence number, and
// resynchronises on the magic should a chunk ever end inside a message. Each sender keeps at
// most --window messages in flight (sent but not yet at every receiver), so the relay is kept
// busy without its socket buffers filling up, and small sends do not merge into big chunks.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// The magic ends in a NUL byte: our relay takes a message's text only up to the first NUL, so
// no payload can ever look like a robot command to it.
constexpr char kMagic[4] = { 'L', 'D', 'M', '\0' };
constexpr size_t kHeaderSize = 24; // magic, sender, sequence, zero, send time in ns
constexpr uint32_t kProbeFlag = 0x80000000u;
constexpr size_t kReadSize = 64 * 1024;
constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr uint64_t kGiveUpNs = 2 * kNsPerSecond;

uint64_t nowNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * kNsPerSecond + static_cast<uint64_t>(ts.tv_nsec);
}

void sleepMs(int ms)
{
    timespec ts { .tv_sec = ms / 1000, .tv_nsec = (ms % 1000) * 1'000'000L };
    nanosleep(&ts, nullptr);
}

struct Options {
    std::string host = "127.0.0.1";
    int port = 19730;
    int clients = 10;
    int senders = -1; // min(clients, 10)
    int messages = 200;
    int bytes = 64;
    double timeoutSeconds = 30;
    bool echo = true;
    pid_t serverPid = 0;
    int idleClients = 0;
    int window = 1;
    std::string label = "server";
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
        "chatroom-load: %s\n"
        "usage: chatroom-load [--host 127.0.0.1] [--port P] [--clients N] [--senders S] [--messages M]\n"
        "                     [--bytes B] [--timeout SEC] [--echo-to-sender yes|no] [--window W]\n"
        "                     [--server-pid PID] [--idle-clients K] [--label NAME]\n",
        why);
    std::exit(2);
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        if (i + 1 >= argc)
            usage("every option takes a value");
        const char* value = argv[++i];
        if (name == "--host")
            options.host = value;
        else if (name == "--port")
            options.port = std::atoi(value);
        else if (name == "--clients")
            options.clients = std::atoi(value);
        else if (name == "--senders")
            options.senders = std::atoi(value);
        else if (name == "--messages")
            options.messages = std::atoi(value);
        else if (name == "--bytes")
            options.bytes = std::atoi(value);
        else if (name == "--timeout")
            options.timeoutSeconds = std::atof(value);
        else if (name == "--echo-to-sender")
            options.echo = std::string_view(value) == "yes";
        else if (name == "--window")
            options.window = std::atoi(value);
        else if (name == "--server-pid")
            options.serverPid = static_cast<pid_t>(std::atoi(value));
        else if (name == "--idle-clients")
            options.idleClients = std::atoi(value);
        else if (name == "--label")
            options.label = value;
        else
            usage("unknown option");
    }
    if (options.senders < 0)
        options.senders = std::min(options.clients, 10);
    if (options.port <= 0 || options.port > 65535)
        usage("--port must be 1..65535");
    if (options.idleClients > 0) {
        if (options.serverPid <= 0)
            usage("--idle-clients needs --server-pid");
        return options;
    }
    if (options.clients < 1 || options.senders < 1 || options.senders > options.clients)
        usage("need 1 <= senders <= clients");
    if (!options.echo && options.clients < 2)
        usage("without echo there must be at least two clients");
    if (options.messages < 1 || options.bytes < static_cast<int>(kHeaderSize) || options.window < 1)
        usage("need messages >= 1, bytes >= 24, window >= 1");
    if (options.timeoutSeconds <= 0)
        usage("--timeout must be positive");
    return options;
}

void raiseFileLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Blocking connect (bounded by a send timeout), then non-blocking for the rest of the run.
int connectClient(const sockaddr_in& address)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval limit { .tv_sec = 5, .tv_usec = 0 };
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// What /proc tells about the server process; zero when it cannot be read.
struct ProcessSample {
    long rssKib = 0;
    long hwmKib = 0;
    long socketCount = -1; // open sockets: what follows our connections, unlike files the server opens lazily
    double cpuSeconds = 0;
};

ProcessSample sampleProcess(pid_t pid)
{
    ProcessSample sample;
    if (pid <= 0)
        return sample;
    std::string base = "/proc/" + std::to_string(pid);
    if (FILE* status = std::fopen((base + "/status").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            std::sscanf(line, "VmRSS: %ld", &sample.rssKib);
            std::sscanf(line, "VmHWM: %ld", &sample.hwmKib);
        }
        std::fclose(status);
    }
    if (DIR* dir = opendir((base + "/fd").c_str())) {
        sample.socketCount = 0;
        char target[64];
        while (dirent* entry = readdir(dir)) {
            ssize_t length = readlinkat(dirfd(dir), entry->d_name, target, sizeof target);
            if (length > 7 && std::memcmp(target, "socket:", 7) == 0)
                ++sample.socketCount;
        }
        closedir(dir);
    }
    if (FILE* stat = std::fopen((base + "/stat").c_str(), "r")) {
        char text[1024] = {};
        size_t length = std::fread(text, 1, sizeof text - 1, stat);
        std::fclose(stat);
        // The command name may hold blanks and parentheses; the fields start after the last ')'.
        const char* fields = static_cast<const char*>(memrchr(text, ')', length));
        unsigned long utime = 0, stime = 0;
        if (fields && std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2)
            sample.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return sample;
}

// Waits, bounded, until the server holds the given number of sockets (at least or at most).
void waitForServerSockets(pid_t pid, long target, bool atLeast, int limitMs)
{
    long count = -1;
    for (int waited = 0; waited < limitMs; waited += 20) {
        count = sampleProcess(pid).socketCount;
        if (count < 0 || (atLeast ? count >= target : count <= target))
            return;
        sleepMs(20);
    }
    std::fprintf(stderr, "chatroom-load: the server holds %ld sockets, not %s %ld, after %d ms\n", count,
        atLeast ? "at least" : "at most", target, limitMs);
}

// Connects one client after the other. A relay with a short listen backlog (ncat listens with
// 10) drops the handshakes it has no room for, and they then trickle in on the kernel's
// retransmission timers; so when we can see the relay's descriptors, we keep at most a few
// connections waiting for its accept.
bool connectAll(const Options& options, int count, std::vector<int>& fds)
{
    constexpr long kMaxUnaccepted = 8;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1)
        usage("--host must be an IPv4 address");
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
        usage("the benchmark only talks to loopback addresses");
    long base = sampleProcess(options.serverPid).socketCount;
    long accepted = 0;
    for (int i = 0; i < count; ++i) {
        // Should the sockets not follow our connections (a wrong --server-pid, say), give up
        // pacing after a while rather than waiting forever.
        for (uint64_t giveUp = nowNs() + 3 * kNsPerSecond; base >= 0 && i - accepted >= kMaxUnaccepted; sleepMs(1)) {
            long held = sampleProcess(options.serverPid).socketCount;
            if (held < 0)
                break;
            accepted = held - base;
            if (i - accepted < kMaxUnaccepted)
                break;
            if (nowNs() >= giveUp) {
                std::fprintf(stderr, "chatroom-load: the server's sockets do not follow our connections; "
                                     "connecting without waiting for its accepts\n");
                base = -1;
            }
        }
        int fd = connectClient(address);
        if (fd < 0) {
            std::fprintf(stderr, "chatroom-load: connection %d of %d to %s:%d failed: %s\n", i + 1, count,
                options.host.c_str(), options.port, std::strerror(errno));
            return false;
        }
        fds.push_back(fd);
    }
    return true;
}

void closeInOrder(std::vector<int>& fds)
{
    // In connection order: a leaver at the head of our server's roster tells nobody, so the
    // room winds down without a storm of leave notices.
    for (int fd : fds)
        close(fd);
    fds.clear();
}

int measureIdleMemory(const Options& options)
{
    ProcessSample before = sampleProcess(options.serverPid);
    if (before.rssKib == 0) {
        std::fprintf(stderr, "chatroom-load: cannot read /proc/%d/status\n", static_cast<int>(options.serverPid));
        return 1;
    }
    std::vector<int> fds;
    bool connected = connectAll(options, options.idleClients, fds);
    if (connected) {
        waitForServerSockets(options.serverPid, before.socketCount + options.idleClients, true, 20000);
        // Let the server finish whatever the new connections set off, until its size holds still.
        long last = -1;
        for (int round = 0; round < 50; ++round) {
            sleepMs(100);
            long rss = sampleProcess(options.serverPid).rssKib;
            if (rss == last)
                break;
            last = rss;
        }
    }
    ProcessSample after = sampleProcess(options.serverPid);
    int held = static_cast<int>(fds.size());
    closeInOrder(fds);
    if (before.socketCount >= 0)
        waitForServerSockets(options.serverPid, before.socketCount, false, 20000);
    if (!connected || held == 0)
        return 1;
    double perClient = static_cast<double>(after.rssKib - before.rssKib) / held;
    std::printf("result server=%s mode=idle idle_clients=%d rss_before_kib=%ld rss_after_kib=%ld kib_per_client=%.2f\n",
        options.label.c_str(), held, before.rssKib, after.rssKib, perClient);
    std::printf("%s: %d idle clients add %ld KiB of resident memory, %.2f KiB per client (kernel socket buffers not included)\n",
        options.label.c_str(), held, after.rssKib - before.rssKib, perClient);
    return 0;
}

struct Connection {
    int fd = -1;
    bool open = true;
    uint64_t received = 0; // bytes since counting started
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

class LoadRun {
public:
    explicit LoadRun(const Options& options)
        : m_options(options)
        , m_messageCount(static_cast<size_t>(options.senders) * static_cast<size_t>(options.messages))
        , m_receiversPerMessage(static_cast<uint32_t>(options.echo ? options.clients : options.clients - 1))
        , m_sentAt(m_messageCount, 0)
        , m_arrivals(m_messageCount, 0)
        , m_settled(m_messageCount, 0)
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
    }

    int run()
    {
        ProcessSample idle = sampleProcess(m_options.serverPid);
        std::vector<int> fds;
        if (!connectAll(m_options, m_options.clients, fds)) {
            closeInOrder(fds);
            return 1;
        }
        m_epoll = epoll_create1(0);
        for (size_t i = 0; i < fds.size(); ++i) {
            Connection connection;
            connection.fd = fds[i];
            m_connections.push_back(std::move(connection));
            epoll_event event { .events = EPOLLIN, .data = { .u64 = i } };
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, fds[i], &event);
        }
        if (!warmUp()) {
            std::fprintf(stderr, "chatroom-load: the relay did not get every client into its room in time\n");
            return 1;
        }
        ProcessSample start = sampleProcess(m_options.serverPid);
        load();
        ProcessSample end = sampleProcess(m_options.serverPid);
        report(start, end);

        std::vector<int> toClose;
        for (Connection& connection : m_connections) {
            toClose.push_back(connection.fd);
            connection.fd = -1;
        }
        closeInOrder(toClose);
        if (idle.socketCount >= 0)
            waitForServerSockets(m_options.serverPid, idle.socketCount, false, 20000);
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
        uint64_t deadline = nowNs() + 15 * kNsPerSecond;
        uint64_t nextProbe = 0;
        sleepMs(50);
        while (!everybodyHeard(probeSenders, nullptr)) {
            uint64_t now = nowNs();
            if (now >= deadline)
                return false;
            if (now >= nextProbe) {
                for (int p = 0; p < probeSenders; ++p)
                    sendProbe(p, probesSent[p]++);
                nextProbe = now + 50 * kNsPerMs;
            }
            pump(10);
        }
        int64_t last[2] = { static_cast<int64_t>(probesSent[0]) - 1, static_cast<int64_t>(probesSent[1]) - 1 };
        while (!everybodyHeard(probeSenders, last)) {
            if (nowNs() >= deadline)
                return false;
            pump(10);
        }
        for (Connection& connection : m_connections) {
            connection.received = 0;
            connection.tail.clear();
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
        encode(message.data(), kProbeFlag | static_cast<uint32_t>(p), seq, nowNs());
        sendMessage(m_connections[static_cast<size_t>(p)], std::move(message));
    }

    void load()
    {
        for (size_t r = 0; r < m_connections.size(); ++r) {
            uint64_t messages = m_messageCount;
            if (!m_options.echo && r < static_cast<size_t>(m_options.senders))
                messages -= static_cast<uint64_t>(m_options.messages);
            m_connections[r].expected = messages * static_cast<uint64_t>(m_options.bytes);
            if (m_connections[r].expected == 0)
                ++m_satisfied;
        }
        m_start = nowNs();
        uint64_t deadline = m_start + static_cast<uint64_t>(m_options.timeoutSeconds * 1e9);
        while (m_satisfied < m_connections.size()) {
            feedSenders();
            if (nowNs() >= deadline) {
                m_end = deadline;
                return;
            }
            bool waiting = false;
            for (int s = 0; s < m_options.senders; ++s)
                waiting = waiting || !m_connections[static_cast<size_t>(s)].pending.empty();
            pump(waiting ? 1 : 50);
        }
        m_end = m_lastSatisfied;
        m_complete = true;
    }

    void feedSenders()
    {
        uint64_t now = nowNs();
        for (int s = 0; s < m_options.senders; ++s) {
            Connection& sender = m_connections[static_cast<size_t>(s)];
            // A message that a relay lost or garbled for some receiver never completes; after a
            // while its sender goes on without it, so one loss cannot stall the run.
            while (sender.oldest < sender.nextSeq) {
                size_t i = index(static_cast<uint32_t>(s), sender.oldest);
                if (!m_settled[i] && now - m_sentAt[i] < kGiveUpNs)
                    break;
                if (!m_settled[i]) {
                    settle(i);
                    ++m_givenUp;
                }
                ++sender.oldest;
            }
            if (!sender.pending.empty() && !flush(sender))
                continue;
            while (sender.open && sender.inFlight < static_cast<uint32_t>(m_options.window)
                && sender.nextSeq < static_cast<uint32_t>(m_options.messages)) {
                uint32_t seq = sender.nextSeq++;
                uint64_t sentAt = nowNs();
                m_sentAt[index(static_cast<uint32_t>(s), seq)] = sentAt;
                std::string message(static_cast<size_t>(m_options.bytes), 'x');
                encode(message.data(), static_cast<uint32_t>(s), seq, sentAt);
                ++sender.inFlight;
                if (!sendMessage(sender, std::move(message)))
                    break;
            }
        }
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
                ++m_partialSends;
            connection.pending.erase(0, static_cast<size_t>(n));
        }
        return connection.pending.empty();
    }

    void pump(int timeoutMs)
    {
        epoll_event events[512];
        int count = epoll_wait(m_epoll, events, 512, timeoutMs);
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
            bool wasSatisfied = connection.expected && connection.received >= connection.expected;
            connection.received += static_cast<uint64_t>(n);
            if (connection.expected && !wasSatisfied && connection.received >= connection.expected) {
                ++m_satisfied;
                m_lastSatisfied = arrival;
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
                ++m_resyncs;
                const void* next = memmem(data + at + 1, size - at - 1, kMagic, sizeof kMagic);
                if (!next)
                    return size - (sizeof kMagic - 1); // the magic may start in the last bytes
                at = static_cast<size_t>(static_cast<const char*>(next) - data);
                continue;
            }
            if (size - at < bytes)
                break;
            uint32_t sender, seq;
            std::memcpy(&sender, data + at + 4, 4);
            std::memcpy(&seq, data + at + 8, 4);
            arrived(receiver, sender, seq, arrival);
            at += bytes;
        }
        return at;
    }

    void arrived(size_t receiver, uint32_t sender, uint32_t seq, uint64_t arrival)
    {
        if (sender & kProbeFlag) {
            uint32_t p = sender & ~kProbeFlag;
            if (p < 2)
                m_connections[receiver].lastProbe[p] = std::max<int64_t>(m_connections[receiver].lastProbe[p], seq);
            return;
        }
        if (sender >= static_cast<uint32_t>(m_options.senders) || seq >= static_cast<uint32_t>(m_options.messages)) {
            ++m_garbled;
            return;
        }
        size_t i = index(sender, seq);
        if (++m_arrivals[i] != m_receiversPerMessage)
            return;
        m_latencies.push_back(arrival - m_sentAt[i]);
        if (!m_settled[i])
            settle(i);
    }

    void settle(size_t i)
    {
        m_settled[i] = 1;
        --m_connections[i / static_cast<size_t>(m_options.messages)].inFlight;
    }

    size_t index(uint32_t sender, uint32_t seq) const
    {
        return static_cast<size_t>(sender) * static_cast<size_t>(m_options.messages) + seq;
    }

    void encode(char* out, uint32_t sender, uint32_t seq, uint64_t sentAt) const
    {
        uint32_t zero = 0;
        std::memcpy(out, kMagic, sizeof kMagic);
        std::memcpy(out + 4, &sender, 4);
        std::memcpy(out + 8, &seq, 4);
        std::memcpy(out + 12, &zero, 4);
        std::memcpy(out + 16, &sentAt, 8);
    }

    double percentileUs(double fraction)
    {
        if (m_latencies.empty())
            return 0;
        size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(m_latencies.size())));
        rank = std::clamp<size_t>(rank, 1, m_latencies.size());
        return static_cast<double>(m_latencies[rank - 1]) / 1000.0;
    }

    void report(const ProcessSample& start, const ProcessSample& end)
    {
        uint64_t deliveredBytes = 0, extraBytes = 0;
        for (const Connection& connection : m_connections) {
            deliveredBytes += std::min(connection.received, connection.expected);
            if (connection.received > connection.expected)
                extraBytes += connection.received - connection.expected;
        }
        uint64_t deliveries = deliveredBytes / static_cast<uint64_t>(m_options.bytes);
        double wall = static_cast<double>(m_end - m_start) / 1e9;
        double rate = wall > 0 ? static_cast<double>(deliveries) / wall : 0;
        std::sort(m_latencies.begin(), m_latencies.end());
        uint64_t incomplete = m_messageCount - m_latencies.size();
        double p50 = percentileUs(0.50), p99 = percentileUs(0.99), max = percentileUs(1.0);
        double cpu = end.cpuSeconds - start.cpuSeconds;

        std::printf("result server=%s clients=%d senders=%d messages=%d bytes=%d echo=%s window=%d complete=%d "
                    "wall_s=%.4f deliveries=%" PRIu64 " deliveries_per_s=%.0f lat_p50_us=%.1f lat_p99_us=%.1f "
                    "lat_max_us=%.1f incomplete_msgs=%" PRIu64 " given_up=%" PRIu64 " resyncs=%" PRIu64 " garbled=%" PRIu64
                    " partial_sends=%" PRIu64 " extra_bytes=%" PRIu64 " lost_connections=%" PRIu64
                    " server_cpu_s=%.2f server_rss_kib=%ld server_hwm_kib=%ld\n",
            m_options.label.c_str(), m_options.clients, m_options.senders, m_options.messages, m_options.bytes,
            m_options.echo ? "yes" : "no", m_options.window, m_complete ? 1 : 0, wall, deliveries, rate, p50, p99, max,
            incomplete, m_givenUp, m_resyncs, m_garbled, m_partialSends, extraBytes, m_lostConnections, cpu, end.rssKib,
            end.hwmKib);
        std::printf("%s: %d clients, %d senders x %d messages of %d B: %.0f deliveries/s in %.3f s; "
                    "latency to the last receiver p50 %.1f us, p99 %.1f us, max %.1f us%s\n",
            m_options.label.c_str(), m_options.clients, m_options.senders, m_options.messages, m_options.bytes, rate,
            wall, p50, p99, max, m_complete ? "" : " (INCOMPLETE: time limit reached)");
    }

    const Options& m_options;
    size_t m_messageCount;
    uint32_t m_receiversPerMessage;
    std::vector<uint64_t> m_sentAt;
    std::vector<uint32_t> m_arrivals; // receivers that have the message so far
    std::vector<uint8_t> m_settled; // complete, or given up on: no longer in its sender's window
    std::vector<uint64_t> m_latencies;
    std::vector<char> m_buffer;
    std::vector<Connection> m_connections;
    int m_epoll = -1;
    size_t m_satisfied = 0;
    uint64_t m_start = 0;
    uint64_t m_end = 0;
    uint64_t m_lastSatisfied = 0;
    bool m_complete = false;
    uint64_t m_resyncs = 0;
    uint64_t m_garbled = 0;
    uint64_t m_givenUp = 0;
    uint64_t m_partialSends = 0;
    uint64_t m_lostConnections = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options = parseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    raiseFileLimit();
    if (options.idleClients > 0)
        return measureIdleMemory(options);
    LoadRun run(options);
    return run.run();
}
