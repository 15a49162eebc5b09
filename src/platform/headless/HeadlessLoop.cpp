// The headless window thread's loop (see HeadlessLoop.h).
#include "platform/headless/HeadlessLoop.h"

#include <poll.h>

#include <cstdint>
#include <vector>

namespace {

// epoll_wait's "no time limit".
constexpr int kWaitForever = -1;

} // namespace

HeadlessLoop::HeadlessLoop(EpollWatchers& watchers)
    : m_watchers(watchers)
{
}

void HeadlessLoop::run()
{
    m_quitting = false;
    while (!m_quitting) {
        int timeoutMs = millisecondsToNextCall();
        if (m_watchers.valid())
            m_watchers.dispatch(timeoutMs);
        else
            poll(nullptr, 0, timeoutMs); // no sockets can be served: only the delayed calls
        runDueCalls();
    }
}

void HeadlessLoop::callLater(int delayMs, std::function<void()> call)
{
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(delayMs > 0 ? delayMs : 0);
    m_delayedCalls.emplace(TimerKey { due, m_nextCallNumber++ }, std::move(call));
}

// Rounded up, so that the wait never ends before the call is due and spins.
int HeadlessLoop::millisecondsToNextCall() const
{
    if (m_delayedCalls.empty())
        return kWaitForever;
    auto remaining = m_delayedCalls.begin()->first.first - Clock::now();
    if (remaining <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(remaining).count());
}

// Runs the calls due now, and only those: a call that asks for another at once has it run
// after the next look at the sockets, so neither can starve the other.
void HeadlessLoop::runDueCalls()
{
    auto dueEnd = m_delayedCalls.upper_bound(TimerKey { Clock::now(), UINT64_MAX });
    if (dueEnd == m_delayedCalls.begin())
        return;
    std::vector<std::function<void()>> due;
    for (auto entry = m_delayedCalls.begin(); entry != dueEnd; ++entry)
        due.push_back(std::move(entry->second));
    m_delayedCalls.erase(m_delayedCalls.begin(), dueEnd);
    for (auto& call : due)
        call();
}
