// What every measurement of the load generator needs: its options, the clock, what /proc
// tells about the relay process, and connecting clients at the pace the relay accepts them.
#pragma once

#include "LoadOptions.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr double kBytesPerMib = 1024.0 * 1024.0;

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
// pastes into the room, as long as asked. Only small letters and blanks, which neither the load's
// messages (see LoadMessages.h) nor our relay's own texts are made of, so that a receiver can
// count the flood's bytes among the rest.
const std::string& floodPattern();

// Whether a byte may be part of the flood pattern.
bool isFloodByte(char byte);

// The measurements besides the relay load: IdleMemory.cpp, FloodCost.cpp, RoomEvents.cpp.
int measureIdleMemory(const Options& options);
int measureFlood(const Options& options);
int measureRoomEvents(const Options& options);
