// The relay's CPU per MiB of text without line ends: each sender pastes --flood-bytes of it
// while reading what comes back, and the relay's CPU time over that is divided by the MiB
// sent. Our relay's robot looks at every such line, so this compares it on and off.
#include "LoadSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kReadSize = 64 * 1024;
// The run ends when nothing has come back for this long after the last byte went out (a relay
// may drop what a full queue cannot take) or at the time limit.
constexpr uint64_t kQuietNs = 2 * kNsPerSecond;
constexpr int kSettleMs = 200;
constexpr int kMaxEvents = 64;

struct Flooder {
    int fd = -1;
    uint64_t sent = 0;
    uint64_t received = 0;
    bool open = true;
};

} // namespace

int measureFlood(const Options& options)
{
    ProcessSample idle = sampleProcess(options.serverPid);
    std::vector<int> fds;
    if (!connectAll(options, options.clients, fds)) {
        closeInOrder(fds);
        return 1;
    }
    if (idle.socketCount >= 0)
        waitForServerSockets(options.serverPid, idle.socketCount + options.clients, true, 20000);
    sleepMs(kSettleMs); // the relay takes its newcomers into the room

    int epoll = epoll_create1(0);
    std::vector<Flooder> flooders(fds.size());
    for (size_t i = 0; i < fds.size(); ++i) {
        flooders[i].fd = fds[i];
        epoll_event event { .events = EPOLLIN, .data = { .u64 = i } };
        epoll_ctl(epoll, EPOLL_CTL_ADD, fds[i], &event);
    }
    const std::string& pattern = floodPattern();
    std::vector<char> buffer(kReadSize);
    uint64_t expectedBack = options.floodBytes * static_cast<uint64_t>(options.senders)
        * static_cast<uint64_t>(options.echo ? options.clients : options.clients - 1);

    ProcessSample start = sampleProcess(options.serverPid);
    uint64_t begin = nowNs(), deadline = begin + static_cast<uint64_t>(options.timeoutSeconds * 1e9);
    uint64_t lastProgress = begin, receivedBack = 0;
    bool complete = false;
    for (;;) {
        bool sending = false;
        for (int s = 0; s < options.senders; ++s) {
            Flooder& flooder = flooders[static_cast<size_t>(s)];
            while (flooder.open && flooder.sent < options.floodBytes) {
                size_t offset = flooder.sent % pattern.size();
                size_t length = std::min<uint64_t>(pattern.size() - offset, options.floodBytes - flooder.sent);
                ssize_t n = send(flooder.fd, pattern.data() + offset, length, MSG_NOSIGNAL);
                if (n <= 0) {
                    flooder.open = n < 0 && (errno == EAGAIN || errno == EINTR);
                    break;
                }
                flooder.sent += static_cast<uint64_t>(n);
                lastProgress = nowNs();
            }
            sending = sending || (flooder.open && flooder.sent < options.floodBytes);
        }
        epoll_event events[kMaxEvents];
        int count = epoll_wait(epoll, events, kMaxEvents, sending ? 1 : 10);
        for (int i = 0; i < count; ++i) {
            Flooder& flooder = flooders[events[i].data.u64];
            ssize_t n = recv(flooder.fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                flooder.received += static_cast<uint64_t>(n);
                receivedBack += static_cast<uint64_t>(n);
                lastProgress = nowNs();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                epoll_ctl(epoll, EPOLL_CTL_DEL, flooder.fd, nullptr);
                flooder.open = false;
            }
        }
        uint64_t now = nowNs();
        if (receivedBack >= expectedBack) {
            complete = true;
            break;
        }
        if (now >= deadline || (!sending && now - lastProgress >= kQuietNs))
            break;
    }
    uint64_t end = complete ? nowNs() : lastProgress;
    ProcessSample stop = sampleProcess(options.serverPid);
    close(epoll);
    uint64_t sent = 0;
    for (const Flooder& flooder : flooders)
        sent += flooder.sent;
    closeInOrder(fds);

    double cpu = stop.cpuSeconds - start.cpuSeconds;
    double mib = static_cast<double>(sent) / kBytesPerMib;
    std::printf("result server=%s phase=flood clients=%d senders=%d flood_bytes=%llu sent_bytes=%llu "
                "received_bytes=%llu expected_bytes=%llu complete=%d wall_s=%.3f server_cpu_s=%.6f cpu_ms_per_mib=%.4f\n",
        options.label.c_str(), options.clients, options.senders, static_cast<unsigned long long>(options.floodBytes),
        static_cast<unsigned long long>(sent), static_cast<unsigned long long>(receivedBack),
        static_cast<unsigned long long>(expectedBack), complete ? 1 : 0, static_cast<double>(end - begin) / 1e9, cpu,
        mib > 0 ? cpu * 1000 / mib : 0);
    std::printf("%s: %.0f MiB of text without line ends cost the relay %.2f s of CPU, %.2f ms per MiB%s\n",
        options.label.c_str(), mib, cpu, mib > 0 ? cpu * 1000 / mib : 0, complete ? "" : " (not all of it came back)");
    return sent == options.floodBytes * static_cast<uint64_t>(options.senders) ? 0 : 1;
}
