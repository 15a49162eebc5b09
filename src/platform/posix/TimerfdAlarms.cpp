// One epoll set's alarms on a timerfd (see TimerfdAlarms.h).
#include "platform/posix/TimerfdAlarms.h"

#include "platform/posix/PosixSocketHandle.h"

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kNanosecondsPerSecond = 1000000000L;

// The timerfd's clock is CLOCK_MONOTONIC, the clock of std::chrono::steady_clock on Linux, so
// a due time converts to an absolute expiry without a second reading of the clock.
itimerspec absoluteExpiry(std::chrono::steady_clock::time_point due)
{
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
    itimerspec expiry {};
    // Zero would disarm the timer: a time at or before the clock's start is due at once.
    if (nanoseconds <= 0)
        nanoseconds = 1;
    expiry.it_value.tv_sec = static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
    expiry.it_value.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
    return expiry;
}

} // namespace

// What the caller holds: destroying it takes the alarm out, also from inside a callback.
class TimerfdAlarms::Registration final : public Alarm {
public:
    Registration(TimerfdAlarms& alarms, Key key)
        : m_alarms(alarms)
        , m_key(key)
    {
    }
    ~Registration() override { m_alarms.cancel(m_key); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    TimerfdAlarms& m_alarms;
    Key m_key;
};

TimerfdAlarms::TimerfdAlarms(ReadinessWatcherFactory& watchers)
    : m_timer(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (!m_timer.valid())
        return;
    m_watcher = watchers.watchReadable(toSocketHandle(m_timer.get()), [this] { runDue(); });
    m_watcher->setEnabled(true);
}

std::unique_ptr<Alarm> TimerfdAlarms::wakeAt(Clock::time_point due, std::function<void()> onDue)
{
    if (!m_timer.valid())
        return nullptr;
    Key key { due, m_nextNumber++ };
    m_alarms.emplace(key, std::move(onDue));
    arm();
    return std::make_unique<Registration>(*this, key);
}

void TimerfdAlarms::cancel(const Key& key)
{
    m_alarms.erase(key);
    arm();
}

// The due alarms are taken out before any of them runs: a callback may make or cancel alarms.
void TimerfdAlarms::runDue()
{
    uint64_t expirations = 0;
    // Only empties the counter; the alarms themselves say what is due.
    [[maybe_unused]] ssize_t ignored = read(m_timer.get(), &expirations, sizeof expirations);
    Clock::time_point now = Clock::now();
    std::vector<Key> due;
    for (auto& [key, onDue] : m_alarms) {
        if (key.first > now)
            break;
        due.push_back(key);
    }
    for (const Key& key : due) {
        auto found = m_alarms.find(key);
        if (found == m_alarms.end())
            continue; // cancelled by an earlier callback
        std::function<void()> onDue = std::move(found->second);
        m_alarms.erase(found);
        onDue();
    }
    arm();
}

// The timer always stands at the earliest alarm, or is disarmed when there is none.
void TimerfdAlarms::arm()
{
    itimerspec expiry {};
    if (!m_alarms.empty())
        expiry = absoluteExpiry(m_alarms.begin()->first.first);
    timerfd_settime(m_timer.get(), TFD_TIMER_ABSTIME, &expiry, nullptr);
}
