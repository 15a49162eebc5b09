// The load generator's shared pieces (see LoadSupport.h).
#include "LoadSupport.h"
#include "WebSocketClient.h"

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
constexpr uint32_t kWebSourceAddress = 0x7f000002; // 127.0.0.2
constexpr size_t kFloodPatternSize = 64 * 1024;

} // namespace

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

namespace {

// The CPU time of all of a process's threads in nanoseconds, as the scheduler keeps it (the
// first field of each thread's schedstat); 0 when the kernel does not offer it. Clock ticks
// (below) are 10 ms: at a few tenths of a second of CPU, a ratio of two relays would move by
// several percent with the tick alone.
double preciseCpuSeconds(const std::string& base)
{
    DIR* tasks = opendir((base + "/task").c_str());
    if (!tasks)
        return 0;
    unsigned long long nanoseconds = 0;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        if (FILE* schedstat = std::fopen((base + "/task/" + entry->d_name + "/schedstat").c_str(), "r")) {
            unsigned long long running = 0;
            if (std::fscanf(schedstat, "%llu", &running) == 1)
                nanoseconds += running;
            std::fclose(schedstat);
        }
    }
    closedir(tasks);
    return static_cast<double>(nanoseconds) / static_cast<double>(kNsPerSecond);
}

double tickedCpuSeconds(const std::string& base)
{
    FILE* stat = std::fopen((base + "/stat").c_str(), "r");
    if (!stat)
        return 0;
    char text[1024] = {};
    size_t length = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    // The command name may hold blanks and parentheses; the fields start after the last ')'.
    const char* fields = static_cast<const char*>(memrchr(text, ')', length));
    unsigned long utime = 0, stime = 0;
    if (!fields || std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

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
    sample.cpuSeconds = preciseCpuSeconds(base);
    if (sample.cpuSeconds == 0)
        sample.cpuSeconds = tickedCpuSeconds(base);
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

// Blocking connect (bounded by a send timeout) and, for a WebSocket client, its handshake
// (bounded by a receive timeout); then non-blocking for the rest of the run.
int connectClient(const sockaddr_in& address, int receiveBuffer, const std::string* webHost)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval limit { .tv_sec = kConnectTimeoutSeconds, .tv_usec = 0 };
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    // The relay names a member by address and port; the kernel may give a connection to the
    // web port the same local port as one to the room's port, so the WebSocket clients come
    // from a loopback address of their own.
    if (webHost) {
        sockaddr_in source {};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(kWebSourceAddress);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
            close(fd);
            return -1;
        }
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (webHost && !webSocketHandshake(fd, *webHost, ntohs(address.sin_port))) {
        close(fd);
        errno = EPROTO;
        return -1;
    }
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
    sockaddr_in webAddress = address;
    webAddress.sin_port = htons(static_cast<uint16_t>(options.webPort));
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
        // The last --web-clients of each batch come through the web entrance (the same rule
        // as ClientSet::adopt's).
        bool web = count - i <= options.webClients;
        int fd = web ? connectClient(webAddress, receiveBuffer, &options.host) : connectClient(address, receiveBuffer, nullptr);
        if (fd < 0) {
            std::fprintf(stderr, "chatroom-load: connection %d of %d to %s:%d failed: %s\n", i + 1, count,
                options.host.c_str(), web ? options.webPort : options.port, std::strerror(errno));
            return false;
        }
        fds.push_back(fd);
    }
    return true;
}

void closeInOrder(std::vector<int>& fds)
{
    // In connection order. Our relay tells everybody still in the room of each leave, so a big
    // room costs it a while to wind down; the measurements are over by then.
    for (int fd : fds)
        close(fd);
    fds.clear();
}

const std::string& floodPattern()
{
    static const std::string pattern = [] {
        constexpr std::string_view kWords = "pack my box with five dozen liquor jugs ";
        std::string text;
        while (text.size() < kFloodPatternSize)
            text += kWords;
        text.resize(kFloodPatternSize);
        return text;
    }();
    return pattern;
}

bool isFloodByte(char byte)
{
    return byte == ' ' || (byte >= 'a' && byte <= 'z');
}
