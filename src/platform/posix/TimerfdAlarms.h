// The alarms of one epoll set: a single timerfd, watched in the set like any socket, is armed
// for the earliest alarm, so that a loop waiting on the set (headless, or Qt's loop watching
// the set's descriptor) wakes for a deadline even when no socket is ready. Alarms due together
// run in the order they were made; an alarm may be destroyed inside any alarm's callback, its
// own included.
#pragma once

#include "net/ReadinessWatcher.h"
#include "platform/posix/OwnedDescriptor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

class TimerfdAlarms {
public:
    using Clock = std::chrono::steady_clock;

    explicit TimerfdAlarms(ReadinessWatcherFactory& watchers);
    TimerfdAlarms(const TimerfdAlarms&) = delete;
    TimerfdAlarms& operator=(const TimerfdAlarms&) = delete;

    // Nothing when the system gave no timer descriptor: the caller then has no clock.
    std::unique_ptr<Alarm> wakeAt(Clock::time_point due, std::function<void()> onDue);

private:
    class Registration;
    // Due time, then the order of making: equal times run in that order.
    using Key = std::pair<Clock::time_point, uint64_t>;

    void cancel(const Key& key);
    void runDue();
    void arm();

    OwnedDescriptor m_timer;
    std::unique_ptr<ReadinessWatcher> m_watcher;
    std::map<Key, std::function<void()>> m_alarms;
    uint64_t m_nextNumber = 0;
};
