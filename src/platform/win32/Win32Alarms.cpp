// Wake-ups at a deadline as USER timers (see Win32Alarms.h).
#include "platform/win32/Win32Alarms.h"

#include <algorithm>
#include <vector>

namespace {

// The turns' window keeps the ids below this for its own timers.
constexpr UINT_PTR kFirstAlarmTimer = 16;

} // namespace

class Win32Alarms::Registration final : public Alarm {
public:
    Registration(Win32Alarms& alarms, UINT_PTR timer)
        : m_alarms(alarms)
        , m_timer(timer)
    {
    }
    ~Registration() override { m_alarms.cancel(m_timer); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    Win32Alarms& m_alarms;
    UINT_PTR m_timer;
};

Win32Alarms::Win32Alarms(HWND window)
    : m_window(window)
    , m_nextTimer(kFirstAlarmTimer)
{
}

Win32Alarms::~Win32Alarms()
{
    for (const auto& [timer, pending] : m_pending)
        KillTimer(m_window, timer);
}

bool Win32Alarms::isAlarmTimer(UINT_PTR timer) { return timer >= kFirstAlarmTimer; }

// Each alarm has an id of its own, never given out again, so a WM_TIMER already queued for a
// cancelled alarm finds nothing.
std::unique_ptr<Alarm> Win32Alarms::add(Clock::time_point due, std::function<void()> onDue)
{
    UINT_PTR timer = m_nextTimer++;
    m_pending[timer] = Pending { due, std::move(onDue) };
    arm(timer, due);
    return std::make_unique<Registration>(*this, timer);
}

// The delay in whole milliseconds, rounded up, within what SetTimer takes. A time already past
// still waits for the timer: the alarm never runs inside the call that made it.
void Win32Alarms::arm(UINT_PTR timer, Clock::time_point due)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    auto delay = std::clamp<long long>(left, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    SetTimer(m_window, timer, static_cast<UINT>(delay), nullptr);
}

void Win32Alarms::cancel(UINT_PTR timer)
{
    if (m_pending.erase(timer) > 0)
        KillTimer(m_window, timer);
}

void Win32Alarms::onTimer(UINT_PTR timer)
{
    auto found = m_pending.find(timer);
    if (found == m_pending.end()) {
        KillTimer(m_window, timer);
        return;
    }
    if (Clock::now() < found->second.due) {
        arm(timer, found->second.due);
        return;
    }
    fire(timer);
}

// The alarm is over before its work runs, so that the work may destroy it (which then
// cancels nothing) or add others.
void Win32Alarms::fire(UINT_PTR timer)
{
    auto found = m_pending.find(timer);
    if (found == m_pending.end())
        return;
    std::function<void()> onDue = std::move(found->second.onDue);
    m_pending.erase(found);
    KillTimer(m_window, timer);
    onDue();
}

// Each alarm found due is looked up again before it runs: an earlier one's work may have
// cancelled it.
void Win32Alarms::runDue()
{
    if (m_pending.empty())
        return;
    Clock::time_point now = Clock::now();
    std::vector<UINT_PTR> due;
    for (const auto& [timer, pending] : m_pending) {
        if (pending.due <= now)
            due.push_back(timer);
    }
    for (UINT_PTR timer : due)
        fire(timer);
}
