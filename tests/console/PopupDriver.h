// Acting on the administrator's pop-up from inside whatever loop runs while it is open (its
// own nested loop among them), on any window system: a driver waits for the pop-up to open
// and acts on it once; a watchdog closes one that nobody closes. Each closes a pop-up left
// open past its bound, so that a test fails instead of hanging. `Popups` is the window
// system's: its Popup handle, open() (the pop-up shown now, or none), close(popup), and a
// Timer(periodMs, tick) that ticks from every loop while it lives.
#pragma once

#include <chrono>
#include <functional>

namespace console_test {

// The longest any wait for the window thread may take before the test gives up and fails.
constexpr int kWaitLimitMs = 15000;
// How often the driver and the watchdog look for the pop-up.
constexpr int kPopupPollMs = 10;

using PopupClock = std::chrono::steady_clock;

template<class Popups>
class PopupDriver {
public:
    using Popup = typename Popups::Popup;

    explicit PopupDriver(std::function<void(Popup)> action)
        : m_action(std::move(action))
    {
    }

    bool acted() const { return m_acted; }
    // True when the driver had to close a pop-up that the action should have closed.
    bool forcedClose() const { return m_forcedClose; }
    bool finished() const { return m_acted && !Popups::open(); }

private:
    void tick()
    {
        Popup menu = Popups::open();
        if (!menu)
            return;
        if (!m_acted) {
            m_acted = true;
            m_deadline = PopupClock::now() + std::chrono::milliseconds(kWaitLimitMs);
            m_action(menu);
        } else if (PopupClock::now() > m_deadline) {
            m_forcedClose = true;
            Popups::close(menu);
        }
    }

    std::function<void(Popup)> m_action;
    PopupClock::time_point m_deadline {};
    bool m_acted = false;
    bool m_forcedClose = false;
    // Last, so that it ticks only once everything it looks at exists.
    typename Popups::Timer m_timer { kPopupPollMs, [this] { tick(); } };
};

// Closes a pop-up that stays open twice the wait limit: a change of the roster by the program
// that wrongly raised the selection event would otherwise leave the test waiting forever in
// the pop-up's loop.
template<class Popups>
class PopupWatchdog {
public:
    bool tripped() const { return m_tripped; }

private:
    void tick()
    {
        typename Popups::Popup menu = Popups::open();
        if (!menu || menu != m_menu) {
            m_menu = menu;
            m_since = PopupClock::now();
        } else if (PopupClock::now() - m_since > std::chrono::milliseconds(2 * kWaitLimitMs)) {
            m_tripped = true;
            Popups::close(menu);
        }
    }

    typename Popups::Popup m_menu {};
    PopupClock::time_point m_since {};
    bool m_tripped = false;
    typename Popups::Timer m_timer { kPopupPollMs, [this] { tick(); } };
};

} // namespace console_test
