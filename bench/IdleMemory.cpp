// The relay's resident memory per idle connection. Half of the K clients connect first and
// the relay's VmRSS is read; then the other half connect and it is read again: the growth
// over the second half, divided by its clients, is what one more idle client costs. The
// first connections also page in code and grow the allocator's arenas once, which says
// nothing about the next client; that figure (growth from the start) is reported too.
#include "LoadSupport.h"

#include <cstdio>

namespace {

constexpr int kAllAcceptedLimitMs = 20000;
constexpr int kSettleRounds = 50;
constexpr int kSettleStepMs = 100;

// Connects `count` more clients and waits until the relay holds them and its size holds still.
bool connectAndSettle(const Options& options, int count, long socketsBefore, std::vector<int>& fds)
{
    if (!connectAll(options, count, fds))
        return false;
    waitForServerSockets(options.serverPid, socketsBefore + static_cast<long>(fds.size()), true, kAllAcceptedLimitMs);
    long last = -1;
    for (int round = 0; round < kSettleRounds; ++round) {
        sleepMs(kSettleStepMs);
        long rss = sampleProcess(options.serverPid).rssKib;
        if (rss == last)
            break;
        last = rss;
    }
    return true;
}

} // namespace

int measureIdleMemory(const Options& options)
{
    ProcessSample before = sampleProcess(options.serverPid);
    if (before.rssKib == 0) {
        std::fprintf(stderr, "chatroom-load: cannot read /proc/%d/status\n", static_cast<int>(options.serverPid));
        return 1;
    }
    int firstHalf = options.idleClients / 2;
    int secondHalf = options.idleClients - firstHalf;
    std::vector<int> fds;
    bool connected = connectAndSettle(options, firstHalf, before.socketCount, fds);
    ProcessSample middle = sampleProcess(options.serverPid);
    connected = connected && connectAndSettle(options, secondHalf, before.socketCount, fds);
    ProcessSample after = sampleProcess(options.serverPid);
    int held = static_cast<int>(fds.size());
    closeInOrder(fds);
    if (before.socketCount >= 0)
        waitForServerSockets(options.serverPid, before.socketCount, false, kAllAcceptedLimitMs);
    if (!connected || held != options.idleClients || secondHalf == 0)
        return 1;
    double perClient = static_cast<double>(after.rssKib - middle.rssKib) / secondHalf;
    double fromStart = static_cast<double>(after.rssKib - before.rssKib) / held;
    std::printf("result server=%s phase=idle idle_clients=%d rss_before_kib=%ld rss_middle_kib=%ld rss_after_kib=%ld "
                "kib_per_client=%.2f kib_per_client_from_start=%.2f\n",
        options.label.c_str(), held, before.rssKib, middle.rssKib, after.rssKib, perClient, fromStart);
    std::printf("%s: the last %d of %d idle clients add %.2f KiB of resident memory each (%.2f KiB each counted from the "
                "start; kernel socket buffers not included)\n",
        options.label.c_str(), secondHalf, held, perClient, fromStart);
    return 0;
}
