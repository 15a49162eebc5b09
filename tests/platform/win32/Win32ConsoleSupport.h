// What the in-process tests of the Win32 console share: loading the real console (its server
// moved off the fixed port), pumping the thread's messages until something has happened
// (always within a bound), the user's input as the window receives it (posted mouse and key
// messages), and acting on the pop-up menu from inside TrackPopupMenu's own loop.
#pragma once

#include "console/ConsoleWindow.h"
#include "runtime/ProgramFrame.h"
#include "console/ControlOperations.h"
#include "console/PopupDriver.h"
#include "console/UnitReference.h"
#include "net/TcpServer.h"
#include "platform/win32/CodePage936.h"
#include "platform/win32/Win32WindowView.h"
#include "support/LocalPorts.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace win32_console_test {

using console_test::kPopupPollMs;
using console_test::kWaitLimitMs;
// The class name of a pop-up menu's window.
constexpr wchar_t kMenuWindowClass[] = L"#32768";

inline ConsoleWindow* console() { return findLoadedWindow(kConsoleWindowId); }
inline Win32WindowView* view() { return console() ? static_cast<Win32WindowView*>(&console()->view()) : nullptr; }
inline HWND consoleWindow() { return view() ? view()->window() : nullptr; }
inline HWND controlOf(const UnitReference& unit) { return view() ? view()->control(unit.unitId) : nullptr; }

inline std::wstring wide(std::string_view cp936) { return cp936ToWide(cp936); }

inline std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

inline std::wstring className(HWND window)
{
    wchar_t name[64] = {};
    return std::wstring(name, static_cast<size_t>(GetClassNameW(window, name, static_cast<int>(std::size(name)))));
}

// A control's rectangle in its parent's client coordinates.
inline RECT placeInParent(HWND control)
{
    RECT rect {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Runs one message as the window thread's loop would. A quit posted by an earlier close
// (the frame quits its loop when the last window goes) is dropped.
inline void dispatchPending()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Handles the thread's messages until `done` holds or the bound passes; true when it held.
inline bool pumpUntil(const std::function<bool()>& done, DWORD limitMs = kWaitLimitMs)
{
    ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        dispatchPending();
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPopupPollMs, QS_ALLINPUT);
    }
}

// Loads the console (its created event runs whatever handler table is registered), moves its
// server component off the fixed port and waits until the window is the active one, so that
// the user's input reaches it. Returns the port the server now listens on, or 0 when the
// window could not be loaded or activated (also when Wine has no display to make windows on).
inline int loadConsole()
{
    if (!loadWindow(kConsoleWindowId))
        return 0;
    int port = test_support::freeTcpPort();
    serverComponent(服务器1).setPort(port);
    HWND window = consoleWindow();
    SetForegroundWindow(window);
    bool active = window && pumpUntil([window] { return GetForegroundWindow() == window && GetActiveWindow() == window; });
    return active ? port : 0;
}

// Closes the console if it is still loaded, so the next test can load it again.
inline void closeConsole()
{
    if (ConsoleWindow* window = console())
        window->close();
    dispatchPending();
}

// A timer of the thread (no window) that calls `tick` from whatever loop runs, TrackPopupMenu's
// included, until it goes.
class ThreadTimer {
public:
    ThreadTimer(UINT periodMs, std::function<void()> tick)
        : m_tick(std::move(tick))
        , m_id(SetTimer(nullptr, 0, periodMs, &ThreadTimer::procedure))
    {
        timers()[m_id] = this;
    }
    ~ThreadTimer()
    {
        KillTimer(nullptr, m_id);
        timers().erase(m_id);
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

private:
    static std::map<UINT_PTR, ThreadTimer*>& timers()
    {
        static std::map<UINT_PTR, ThreadTimer*> running;
        return running;
    }
    static void CALLBACK procedure(HWND, UINT, UINT_PTR id, DWORD)
    {
        auto found = timers().find(id);
        if (found != timers().end())
            found->second->m_tick();
    }

    std::function<void()> m_tick;
    UINT_PTR m_id;
};

// The window of the pop-up menu open on this thread, or nullptr.
inline HWND openPopup()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND candidate, LPARAM result) -> BOOL {
        if (IsWindowVisible(candidate) && className(candidate) == kMenuWindowClass) {
            *reinterpret_cast<HWND*>(result) = candidate;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

inline HMENU menuOf(HWND menuWindow) { return reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0)); }

inline std::vector<std::wstring> popupCaptions(HWND menuWindow)
{
    HMENU menu = menuOf(menuWindow);
    std::vector<std::wstring> captions;
    for (int item = 0; item < GetMenuItemCount(menu); ++item) {
        wchar_t caption[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(item), caption, static_cast<int>(std::size(caption)), MF_BYPOSITION);
        captions.emplace_back(caption);
    }
    return captions;
}

// A key as the keyboard sends it: down, with its scan code, then up.
inline void postKey(HWND target, WPARAM key)
{
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, key, scan | 1);
    PostMessageW(target, WM_KEYUP, key, scan | 1 | (LPARAM(3) << 30));
}

// Chooses the pop-up's item at `index` with the keyboard: Down to it from no selection, Enter.
inline void chooseWithKeys(HWND menuWindow, int index)
{
    for (int step = 0; step <= index; ++step)
        postKey(menuWindow, VK_DOWN);
    postKey(menuWindow, VK_RETURN);
}

// Chooses the pop-up's item at `index` with a mouse button. A menu in tracking takes the
// pointer's screen position from the message.
inline void chooseWithMouse(HWND menuWindow, int index, bool rightButton)
{
    RECT item {};
    // No window: the item's place on the screen, in the pop-up's own window.
    GetMenuItemRect(nullptr, menuOf(menuWindow), static_cast<UINT>(index), &item);
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    PostMessageW(menuWindow, WM_MOUSEMOVE, 0, at);
    PostMessageW(menuWindow, rightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, rightButton ? MK_RBUTTON : MK_LBUTTON, at);
    PostMessageW(menuWindow, rightButton ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
}

// A user's click on the list box entry at `index`.
inline void clickEntry(HWND list, int index)
{
    RECT item {};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
}

// The Win32 side of console/PopupDriver.h: the pop-up is TrackPopupMenu's menu window, ended
// with EndMenu; ticks come from a thread timer.
struct Win32Popups {
    using Popup = HWND;
    static HWND open() { return openPopup(); }
    static void close(HWND) { EndMenu(); }
    using Timer = ThreadTimer;
};
using PopupDriver = console_test::PopupDriver<Win32Popups>;
using PopupWatchdog = console_test::PopupWatchdog<Win32Popups>;

} // namespace win32_console_test
