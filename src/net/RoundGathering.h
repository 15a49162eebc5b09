// The round's gathering: small messages sent from inside a round of readiness callbacks (a
// relay) are kept and written when the round is over, when the loop has rounds. A client then
// gets everything the round has for it in one write, however many senders the round served;
// in a busy room that is one system call and one segment per client instead of one per
// message. Each message is kept once however many clients it is for (a relay sends one message
// to everybody in a row); each client's share is one run of the round's buffer.
#pragma once

#include "net/ReadinessWatcher.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Connection;
class DeliveryBudget;
class ReadinessDispatch;

// One connection's run of the round's buffer, [begin, end); `listed` while the connection is
// among those the round writes to.
struct GatheredRun {
    size_t begin = 0;
    size_t end = 0;
    bool listed = false;
    size_t size() const { return end - begin; }
};

class RoundGathering {
public:
    // Larger messages are written at once: they fill segments of their own anyway, and the
    // round's copy of them would cost more than it saves.
    static constexpr size_t kGatherLimit = 16 * 1024;

    RoundGathering(ReadinessWatcherFactory& watchers, ReadinessDispatch& dispatch, DeliveryBudget& budget);
    RoundGathering(const RoundGathering&) = delete;
    RoundGathering& operator=(const RoundGathering&) = delete;

    // Gathers the bytes for the connection when that is how they go: inside a round, small,
    // and behind nothing queued. False when the caller is to deliver them now (after
    // writeRun, so that nothing overtakes what was gathered).
    bool gather(Connection& target, std::string_view wire);
    // The connection's run goes out now, as any message does.
    void writeRun(Connection& target);
    // The connection leaves: its run goes out now and the round forgets it.
    void forget(Connection& target);
    // The round is over: every run goes out, in the order the connections were first sent to.
    void writeAll();
    // No more rounds (the component closes): what is gathered goes out now.
    void stop();

private:
    bool gathers(std::string_view wire) const;
    size_t copyOf(std::string_view wire);

    std::unique_ptr<RoundEndHook> m_roundEnd;
    ReadinessDispatch& m_dispatch;
    DeliveryBudget& m_budget;
    std::string m_buffer;
    // The bytes copied last, while they are in the buffer: a relay's next client gets the same.
    std::optional<GatheredRun> m_lastCopy;
    std::vector<Connection*> m_for;
};
