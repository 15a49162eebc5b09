// The load generator's shared pieces (see LoadSupport.h).
#include "LoadSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutSeconds = 5;
constexpr size_t kFloodPatternSize = 64 * 1024;

} // namespace

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
        "chatroom-load: %s\n"
        "usage: chatroom-load [--host 127.0.0.1] [--port P] [--clients N] [--senders S] [--messages M]\n"
        "                     [--bytes B] [--timeout SEC] [--echo-to-sender yes|no] [--window W]\n"
        "                     [--fanout-messages F] [--rate R] [--frozen K] [--flood-bytes X]\n"
        "                     [--flooders F]\n"
        "                     [--listen-backlog B] [--server-pid PID] [--idle-clients K] [--label NAME]\n"
        "  --fanout-messages F  first, client 0 sends F messages one at a time (fan-out latency)\n"
        "  --rate R             each sender sends R messages per second (latency under a steady load)\n"
        "  --frozen K           K more clients connect first and never read (small receive buffers)\n"
        "  --flood-bytes X      each frozen client sends X bytes of text without line ends; with no\n"
        "                       frozen clients, the senders send that instead of messages (CPU per MiB)\n"
        "  --flooders F         only the first F frozen clients send --flood-bytes (default: all)\n"
        "  --listen-backlog B   at most B connections wait for the relay's accept (default 8, for ncat)\n",
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
        else if (name == "--fanout-messages")
            options.fanoutMessages = std::atoi(value);
        else if (name == "--rate")
            options.rate = std::atof(value);
        else if (name == "--frozen")
            options.frozen = std::atoi(value);
        else if (name == "--flooders")
            options.flooders = std::atoi(value);
        else if (name == "--flood-bytes")
            options.floodBytes = std::strtoull(value, nullptr, 10);
        else if (name == "--listen-backlog")
            options.listenBacklog = std::atoi(value);
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
    if (options.messages < 1 || options.bytes < 24 || options.window < 1)
        usage("need messages >= 1, bytes >= 24, window >= 1");
    if (options.listenBacklog < 1)
        usage("--listen-backlog must be positive");
    if (options.timeoutSeconds <= 0 || options.rate < 0 || options.frozen < 0 || options.fanoutMessages < 0)
        usage("--timeout must be positive; --rate, --frozen and --fanout-messages not negative");
    return options;
}

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

void raiseFileLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

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

uint64_t tcpSegmentsSent()
{
    // Two "Tcp:" lines: the field names, then the values.
    FILE* snmp = std::fopen("/proc/net/snmp", "r");
    if (!snmp)
        return 0;
    char names[1024], values[1024];
    uint64_t segments = 0;
    while (std::fgets(names, sizeof names, snmp)) {
        if (std::strncmp(names, "Tcp:", 4) != 0 || !std::fgets(values, sizeof values, snmp))
            continue;
        char* nameSave = nullptr;
        char* valueSave = nullptr;
        for (char *name = strtok_r(names, " \n", &nameSave), *value = strtok_r(values, " \n", &valueSave); name && value;
             name = strtok_r(nullptr, " \n", &nameSave), value = strtok_r(nullptr, " \n", &valueSave)) {
            if (std::strcmp(name, "OutSegs") == 0)
                segments = std::strtoull(value, nullptr, 10);
        }
        break;
    }
    std::fclose(snmp);
    return segments;
}

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

namespace {

// Blocking connect (bounded by a send timeout), then non-blocking for the rest of the run.
int connectClient(const sockaddr_in& address, int receiveBuffer)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval limit { .tv_sec = kConnectTimeoutSeconds, .tv_usec = 0 };
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

} // namespace

// A relay with a short listen backlog drops the handshakes it has no room for, and they then
// trickle in on the kernel's retransmission timers; so when we can see the relay's descriptors,
// we keep at most --listen-backlog connections waiting for its accept. Counting its sockets
// reads its whole descriptor table, so with a long backlog that is done rarely.
bool connectAll(const Options& options, int count, std::vector<int>& fds, int receiveBuffer)
{
    const long maxUnaccepted = options.listenBacklog;
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
        for (uint64_t giveUp = nowNs() + 3 * kNsPerSecond; base >= 0 && i - accepted >= maxUnaccepted; sleepMs(1)) {
            long held = sampleProcess(options.serverPid).socketCount;
            if (held < 0)
                break;
            accepted = held - base;
            if (i - accepted < maxUnaccepted)
                break;
            if (nowNs() >= giveUp) {
                std::fprintf(stderr, "chatroom-load: the server's sockets do not follow our connections; "
                                     "connecting without waiting for its accepts\n");
                base = -1;
            }
        }
        int fd = connectClient(address, receiveBuffer);
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

const std::string& floodPattern()
{
    static const std::string pattern = [] {
        constexpr std::string_view kWords = "pack my box with five dozen liquor jugs 0123456789 ";
        std::string text;
        while (text.size() < kFloodPatternSize)
            text += kWords;
        text.resize(kFloodPatternSize);
        return text;
    }();
    return pattern;
}
