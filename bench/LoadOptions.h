// The load generator's command line: which measurement to run against which relay, and how.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

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
    // Clients that connect before the others and never read; the first `flooders` of them (all
    // when negative) each send floodBytes of text without line ends. With no frozen clients,
    // floodBytes > 0 makes the senders send that much text instead of messages, and the run
    // measures the relay's CPU per MiB.
    int frozen = 0;
    int flooders = -1;
    uint64_t floodBytes = 0;
    // Room events instead of the load: this many chat lines, lines after a pause, leaves and
    // kicks (the kicks through the administrator's control socket, when one is given).
    int events = 0;
    int pauseMs = 1000;
    std::string controlSocket;
    // The relay's listen backlog: at most this many of our connections wait for its accept.
    // The default suits ncat, which listens with 10; ours and the ceiling take far more.
    int listenBacklog = 8;
    std::string label = "server";
};

Options parseOptions(int argc, char** argv);
[[noreturn]] void usage(const char* why);
