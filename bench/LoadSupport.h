// What every measurement of the load generator needs: its options, the clock, what /proc
// tells about the relay process, and connecting clients at the pace the relay accepts them.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr double kBytesPerMib = 1024.0 * 1024.0;

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
    // Messages sent one at a time by client 0 before the main load, for the fan-out latency.
    int fanoutMessages = 0;
    // Messages per second per sender instead of the window's pace (0: as fast as the window).
    double rate = 0;
    // Clients that connect before the others and never read; each sends floodBytes of text
    // without line ends. With no frozen clients, floodBytes > 0 makes the senders send that
    // much text instead of messages, and the run measures the relay's CPU per MiB.
    int frozen = 0;
    uint64_t floodBytes = 0;
    // Of the frozen clients, only the first this many flood (-1: all of them).
    int flooders = -1;
    // The relay's listen backlog: at most this many of our connections wait for its accept.
    // The default suits ncat, which listens with 10; ours and the ceiling take far more.
    int listenBacklog = 8;
    std::string label = "server";
};

Options parseOptions(int argc, char** argv);
[[noreturn]] void usage(const char* why);

uint64_t nowNs();
void sleepMs(int ms);
void raiseFileLimit();

// What /proc tells about the server process; zero when it cannot be read.
struct ProcessSample {
    long rssKib = 0;
    long hwmKib = 0;
    long socketCount = -1; // open sockets: what follows our connections, unlike files the server opens lazily
    double cpuSeconds = 0;
};
ProcessSample sampleProcess(pid_t pid);
// TCP segments sent in this network namespace so far (Tcp OutSegs of /proc/net/snmp), data
// and acknowledgements of every connection alike; 0 when unreadable. Over a run on a quiet
// machine (or in a network namespace of its own), segments per delivery show how many sends
// the kernel merged into one segment: a relay that sends again before the receiver has
// acknowledged the last small segment has the next one held back and merged (Nagle), which
// makes a delivery much cheaper. Figures per delivery depend on that as much as on the relay.
uint64_t tcpSegmentsSent();

// Waits, bounded, until the server holds the given number of sockets (at least or at most).
void waitForServerSockets(pid_t pid, long target, bool atLeast, int limitMs);

// Connects `count` clients to the relay, appending their non-blocking descriptors to `fds`.
// A receive buffer above 0 is set before each connects (a small one makes a frozen reader's
// connection fill early). False when a connection failed.
bool connectAll(const Options& options, int count, std::vector<int>& fds, int receiveBuffer = 0);
void closeInOrder(std::vector<int>& fds);

// Text without line ends, NUL bytes or any keyword of the default word library: what a client
// pastes into the room, as long as asked.
const std::string& floodPattern();

// The three measurements besides the relay load.
int measureIdleMemory(const Options& options);
int measureFlood(const Options& options);
