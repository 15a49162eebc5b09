// The round's gathering of small messages (see RoundGathering.h).
#include "net/RoundGathering.h"

#include "net/Connection.h"

#include <algorithm>

namespace {

// What a round gathers at most: thousands of chat lines. A round that has more (a burst of
// distinct messages) writes what it has gathered so far and gathers afresh, so the buffer
// stays this small and is kept from round to round.
constexpr size_t kRoundGatherCap = 256 * 1024;

} // namespace

RoundGathering::RoundGathering(ReadinessWatcherFactory& watchers, ReadinessDispatch& dispatch, DeliveryBudget& budget)
    : m_roundEnd(watchers.afterEachRound([this] { writeAll(); }))
    , m_dispatch(dispatch)
    , m_budget(budget)
{
}

// Messages are gathered only while a readiness callback runs, since only then is a round end
// sure to follow; a send from anywhere else (the console's menu) goes out at once.
bool RoundGathering::gathers(std::string_view wire) const
{
    return m_roundEnd && m_dispatch.inCallback() && wire.size() <= kGatherLimit;
}

bool RoundGathering::gather(Connection& target, std::string_view wire)
{
    if (!gathers(wire) || wire.empty())
        return false;
    size_t start = copyOf(wire);
    GatheredRun& run = target.gatheredRun();
    // A connection's gathered bytes are one run of the round's: a message that does not follow
    // on from its run sends the run now and starts the next one.
    if (run.end != start)
        writeRun(target);
    if (target.queuedBytes() > 0)
        return false;
    if (run.begin == run.end)
        run.begin = start;
    run.end = start + wire.size();
    if (!run.listed) {
        run.listed = true;
        m_for.push_back(&target);
    }
    return true;
}

// Where the bytes are in the round's buffer. A relay hands every client the same bytes in a
// row: those are kept once, and every run points at them. Bytes that would take the buffer
// past its cap send every run first.
size_t RoundGathering::copyOf(std::string_view wire)
{
    if (m_lastCopy && m_lastCopy->size() == wire.size() && std::string_view(m_buffer).substr(m_lastCopy->begin, m_lastCopy->size()) == wire)
        return m_lastCopy->begin;
    if (m_buffer.size() + wire.size() > kRoundGatherCap)
        writeAll();
    size_t start = m_buffer.size();
    m_buffer.append(wire);
    m_budget.addGathered(wire.size());
    m_lastCopy = GatheredRun { start, m_buffer.size() };
    return start;
}

void RoundGathering::writeRun(Connection& target)
{
    GatheredRun& run = target.gatheredRun();
    if (run.begin == run.end)
        return;
    std::string_view bytes = std::string_view(m_buffer).substr(run.begin, run.size());
    run.begin = run.end = 0;
    target.deliver(bytes);
}

// Its run goes out (or into its queue) now; the others' runs wait for the round's end, so
// that a crowd leaving at once costs each remaining client one write of all the leave
// notices.
void RoundGathering::forget(Connection& target)
{
    GatheredRun& run = target.gatheredRun();
    if (!run.listed)
        return;
    writeRun(target);
    std::erase(m_for, &target);
    run.listed = false;
}

void RoundGathering::writeAll()
{
    for (Connection* connection : m_for) {
        connection->gatheredRun().listed = false;
        writeRun(*connection);
    }
    m_for.clear();
    // The buffer is emptied: nothing copied before is in it any more.
    m_lastCopy.reset();
    m_budget.removeGathered(m_buffer.size());
    m_buffer.clear();
}

void RoundGathering::stop()
{
    m_roundEnd.reset();
    writeAll();
}
