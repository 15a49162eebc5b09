// The window thread's loop when nobody can see a window (no display, the user service, the
// benchmark): it waits on the epoll set itself and runs the ready sockets' handlers straight
// from there, with no toolkit in between, so that a wake-up costs one epoll_wait. Besides
// readiness it runs the calls that were put off by a delay (a close that waits for a running
// handler). It never nests: headless, message boxes print and the pop-up menu shows nothing.
#pragma once

#include "platform/posix/EpollWatchers.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

class HeadlessLoop {
public:
    explicit HeadlessLoop(EpollWatchers& watchers);
    HeadlessLoop(const HeadlessLoop&) = delete;
    HeadlessLoop& operator=(const HeadlessLoop&) = delete;

    // Runs until quit() is called, from a handler or a delayed call.
    void run();
    void quit() { m_quitting = true; }
    // Runs `call` on this loop after `delayMs` (at once when 0 or less), once.
    void callLater(int delayMs, std::function<void()> call);

private:
    using Clock = std::chrono::steady_clock;
    // Due time, then the order of the requests: calls due at once run in the order made.
    using TimerKey = std::pair<Clock::time_point, uint64_t>;

    int millisecondsToNextCall() const;
    void runDueCalls();

    EpollWatchers& m_watchers;
    bool m_quitting = false;
    std::map<TimerKey, std::function<void()>> m_delayedCalls;
    uint64_t m_nextCallNumber = 0;
};
