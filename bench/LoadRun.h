// The relay load: N clients in a room, S of them sending, optionally beside clients that never
// read, some of which flood (LoadRun.cpp); its figures are reported by LoadReport.cpp.
//
// After the warm-up, --fanout-messages F lets client 0 send F messages one at a time, each only
// when the previous one is everywhere: the latency of one message's fan-out with nothing else
// in flight. Then S senders send M messages of B bytes each, each keeping at most --window in
// flight (sent but not yet at every receiver), so the relay is kept busy without its socket
// buffers filling up and small sends do not merge into big chunks; or, with --rate R, on a
// fixed schedule of R a second each, whatever the relay does. Reported: deliveries per second
// (messages x receivers / wall time), the latency from a send to its arrival at the last
// receiver, the relay's CPU time, and what reached the readers of the floods.
#pragma once

#include "LoadClients.h"

#include <cstdint>
#include <vector>

struct PhasePlan {
    PhaseId id;
    int senders;
    int messages; // per sender
    int window;
    double rate; // messages per second per sender; 0: paced by the window
    double timeoutSeconds;
};

// A client that never reads, and may send a flood of text.
struct FloodClient {
    int fd = -1;
    uint64_t floodLeft = 0;
    uint64_t sent = 0;
};

// What one phase has seen so far.
struct PhaseState {
    PhasePlan plan {};
    size_t messageCount = 0;
    uint32_t receiversPerMessage = 0;
    std::vector<uint64_t> sentAt;
    std::vector<uint32_t> arrivals; // receivers that have the message so far
    std::vector<uint8_t> settled; // complete, or given up on: no longer in its sender's window
    std::vector<uint64_t> latencies;
    size_t satisfied = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t lastSatisfied = 0;
    bool complete = false;
    uint64_t sent = 0;
    uint64_t resyncsBefore = 0;
    uint64_t partialSendsBefore = 0;
    uint64_t garbled = 0;
    uint64_t givenUp = 0;
    uint64_t stale = 0; // messages of an earlier phase that arrived late
};

class LoadRun : private ClientListener {
public:
    explicit LoadRun(const Options& options);
    ~LoadRun() override;
    int run();

private:
    void runPhase(const PhasePlan& plan);
    void windowLoad();
    void pacedLoad();
    bool flood();
    bool floodDelivered() const;
    uint64_t floodSent() const;
    int floodingClients() const;
    bool sendersWaiting() const;
    void feedSenders();
    bool sendNext(Connection& sender, uint32_t s);
    void bytesArrived(size_t client, uint64_t count, uint64_t arrival) override;
    void messageArrived(size_t client, const MessageHeader& header, uint64_t arrival) override;
    void settle(size_t i);
    size_t index(uint32_t sender, uint32_t seq) const;
    void report(const ProcessSample& start, const ProcessSample& end, uint64_t segments);

    const Options& m_options;
    ClientSet m_clients;
    PhaseState m_phase;
    std::vector<FloodClient> m_frozen;
    uint64_t m_floodTotal = 0; // what the floods are to send in all
    uint64_t m_lastArrival = 0;
};
