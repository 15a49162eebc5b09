// Wake-ups at a deadline on the window thread (ReadinessWatcherFactory::wakeAt on Win32): one
// USER timer per alarm on the socket turns' window. Every loop of the thread dispatches
// WM_TIMER, the modal ones of a message box and of the pop-up menu too, so an alarm comes in
// a quiet room and under an open box alike. But WM_TIMER is made only when no posted message
// waits, and a room whose sockets are always ready always has one (its turns' requests and
// Winsock's notices): so the turns also run the alarms that are due after each turn
// (Win32SocketTurns.h). A timer may come a little before its time (it counts whole
// milliseconds on a coarser clock); it is then set again for the rest.
#pragma once

#include "net/ReadinessWatcher.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

class Win32Alarms {
public:
    using Clock = std::chrono::steady_clock;

    explicit Win32Alarms(HWND window);
    ~Win32Alarms();
    Win32Alarms(const Win32Alarms&) = delete;
    Win32Alarms& operator=(const Win32Alarms&) = delete;

    // The returned alarm must not outlive this set; destroying it cancels it.
    std::unique_ptr<Alarm> add(Clock::time_point due, std::function<void()> onDue);
    // Whether a timer of the window is an alarm's (the window's other timers have lower ids).
    static bool isAlarmTimer(UINT_PTR timer);
    // The WM_TIMER of an alarm: runs it if its time has come, else sets its timer again.
    void onTimer(UINT_PTR timer);
    // Runs every alarm whose time has come.
    void runDue();

private:
    class Registration;
    struct Pending {
        Clock::time_point due;
        std::function<void()> onDue;
    };

    void arm(UINT_PTR timer, Clock::time_point due);
    void cancel(UINT_PTR timer);
    void fire(UINT_PTR timer);

    HWND m_window;
    std::map<UINT_PTR, Pending> m_pending;
    UINT_PTR m_nextTimer;
};
