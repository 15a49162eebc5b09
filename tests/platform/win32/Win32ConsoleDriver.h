// How the console tests drive the Win32 console (see console/ConsoleFixture.h): the real
// console loaded with its server moved to a free port, the window a real top-level window made
// active, the user's clicks and keys posted as the window receives them, the pop-up
// TrackPopupMenu's menu window, acted on from inside its own loop, and the thread's messages
// pumped until something has happened, always within a bound.
#pragma once

#include "console/ConsoleFixture.h"
#include "console/PopupDriver.h"
#include "platform/win32/CodePage936.h"
#include "platform/win32/Win32WindowView.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win32_console_test {

using console_test::ChoiceWay;
using console_test::CloseRequest;
using console_test::console;
using console_test::handlerCalls;
using console_test::kPopupPollMs;
using console_test::kWaitLimitMs;
using console_test::LoadedConsole;
using console_test::loadConsoleOnFreePort;
using console_test::registerCountingHandlers;
using console_test::ScreenPoint;
using console_test::ScreenRect;
// The class name of a pop-up menu's window.
constexpr wchar_t kMenuWindowClass[] = L"#32768";

inline Win32WindowView* view() { return console() ? static_cast<Win32WindowView*>(&console()->view()) : nullptr; }
inline HWND controlOf(const UnitReference& unit) { return view() ? view()->control(unit.unitId) : nullptr; }

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

// A key as the keyboard sends it: down, with its scan code, then up.
inline void postKey(HWND target, WPARAM key)
{
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, key, scan | 1);
    PostMessageW(target, WM_KEYUP, key, scan | 1 | (LPARAM(3) << 30));
}

// The Win32 side of console/PopupDriver.h: the pop-up is TrackPopupMenu's menu window, ended
// with EndMenu; ticks come from a thread timer.
struct Win32Popups {
    using Popup = HWND;
    static HWND open() { return openPopup(); }
    static void close(HWND) { EndMenu(); }
    using Timer = ThreadTimer;
};

struct Win32ConsoleDriver {
    using Window = HWND;
    using ClosingWindow = HWND;
    using Popup = HWND;
    using PopupDriver = console_test::PopupDriver<Win32Popups>;
    using PopupWatchdog = console_test::PopupWatchdog<Win32Popups>;
    static constexpr const char* kName = "Win32";

    // Loads the console on a free port and waits until the window is the active one, so that
    // the user's input reaches it; 0 also when it could not be activated (as when Wine has no
    // display to make windows on).
    static int load()
    {
        int port = loadConsoleOnFreePort();
        HWND loaded = window();
        if (!port || !loaded)
            return 0;
        SetForegroundWindow(loaded);
        return waitUntil([loaded] { return GetForegroundWindow() == loaded && GetActiveWindow() == loaded; }) ? port : 0;
    }
    // Closes the console if it is still loaded, so the next test can load it again.
    static void close()
    {
        if (ConsoleWindow* loaded = console())
            loaded->close();
        handlePending();
    }
    static Window window() { return view() ? view()->window() : nullptr; }
    // Runs the thread's messages as the window thread's loop would. A quit posted by an
    // earlier close (the frame quits its loop when the last window goes) is dropped.
    static void handlePending()
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
    static bool waitUntil(const std::function<bool()>& done)
    {
        ULONGLONG deadline = GetTickCount64() + kWaitLimitMs;
        for (;;) {
            handlePending();
            if (done())
                return true;
            if (GetTickCount64() >= deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, kPopupPollMs, QS_ALLINPUT);
        }
    }
    static bool popupOpen() { return openPopup() != nullptr; }

    static constexpr const char* kLineEnd = "\r\n";
    static std::string caption() { return utf8Of(windowText(window())); }
    static bool windowShown() { return IsWindowVisible(window()); }
    static ScreenRect outerPlace()
    {
        RECT outer {};
        GetWindowRect(window(), &outer);
        return rectOf(outer);
    }
    static ScreenRect workArea()
    {
        RECT area {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        return rectOf(area);
    }
    // A unit's control, in its parent's coordinates.
    static ScreenRect controlPlace(const UnitReference& unit) { return rectOf(placeInParent(controlOf(unit))); }
    static bool controlShown(const UnitReference& unit) { return IsWindowVisible(controlOf(unit)); }
    static std::string bannerText() { return utf8Of(windowText(controlOf(编辑框2))); }
    static std::vector<std::string> shownEntries()
    {
        std::vector<std::string> entries;
        for (LRESULT index = 0; index < SendMessageW(roster(), LB_GETCOUNT, 0, 0); ++index) {
            std::wstring text(static_cast<size_t>(SendMessageW(roster(), LB_GETTEXTLEN, static_cast<WPARAM>(index), 0)) + 1, L'\0');
            text.resize(static_cast<size_t>(SendMessageW(roster(), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()))));
            entries.push_back(utf8Of(text));
        }
        return entries;
    }
    // How far right the roster's entry at `index` is drawn: the last column, inside the row's
    // outline (where the focus rectangle goes), that differs from the row's background; -1 for
    // none. Read from the control's own pixels once it has drawn everything.
    static int inkExtent(int index)
    {
        HWND list = roster();
        RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        RECT row {};
        SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&row));
        HDC dc = GetDC(list);
        const COLORREF background = GetPixel(dc, row.right - 2, (row.top + row.bottom) / 2);
        int extent = -1;
        for (int y = row.top + 1; y + 1 < row.bottom; ++y) {
            for (int x = row.left + 1; x + 1 < row.right; ++x) {
                if (GetPixel(dc, x, y) != background)
                    extent = std::max(extent, static_cast<int>(x - row.left));
            }
        }
        ReleaseDC(list, dc);
        return extent;
    }
    // Every text a control of the window shows.
    static std::vector<std::string> shownTexts()
    {
        std::vector<std::string> texts;
        EnumChildWindows(window(), [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<std::string>*>(list)->push_back(utf8Of(windowText(child)));
            return TRUE;
        }, reinterpret_cast<LPARAM>(&texts));
        return texts;
    }

    // Puts the pointer over the window and says where it is.
    static ScreenPoint pointerOverWindow()
    {
        RECT outer {};
        GetWindowRect(window(), &outer);
        SetCursorPos(outer.left + 100, outer.top + 100);
        POINT pointer {};
        GetCursorPos(&pointer);
        return { pointer.x, pointer.y };
    }

    static std::vector<std::string> captions(Popup menuWindow)
    {
        HMENU menu = menuOf(menuWindow);
        std::vector<std::string> texts;
        for (int item = 0; item < GetMenuItemCount(menu); ++item) {
            wchar_t caption[64] = {};
            GetMenuStringW(menu, static_cast<UINT>(item), caption, static_cast<int>(std::size(caption)), MF_BYPOSITION);
            texts.push_back(utf8Of(caption));
        }
        return texts;
    }
    static ScreenPoint placeOf(Popup menu)
    {
        RECT shown {};
        GetWindowRect(menu, &shown);
        return { shown.left, shown.top };
    }
    static void pressEscape(Popup menu) { postKey(menu, VK_ESCAPE); }
    // With the keys: Down to the item from no selection, Enter. With a mouse button: a menu in
    // tracking takes the pointer's screen position from the message.
    static void choose(Popup menu, int index, ChoiceWay way)
    {
        if (way == ChoiceWay::Keys) {
            for (int step = 0; step <= index; ++step)
                postKey(menu, VK_DOWN);
            postKey(menu, VK_RETURN);
            return;
        }
        bool right = way == ChoiceWay::RightButton;
        RECT item {};
        // No window: the item's place on the screen, in the pop-up's own window.
        GetMenuItemRect(nullptr, menuOf(menu), static_cast<UINT>(index), &item);
        LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        PostMessageW(menu, WM_MOUSEMOVE, 0, at);
        PostMessageW(menu, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, at);
        PostMessageW(menu, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
    }

    // A user's click on the roster entry at `index`.
    static void clickEntry(int index)
    {
        RECT item {};
        SendMessageW(roster(), LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        PostMessageW(roster(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(roster(), WM_LBUTTONUP, 0, at);
    }
    // The roster has the keyboard's focus (the loaded console is the active window).
    static bool focusRoster()
    {
        SetFocus(roster());
        return GetFocus() == roster();
    }
    static void pressDownInRoster() { postKey(roster(), VK_DOWN); }
    // The window's own command as the user gives it: the system menu's last item, chosen.
    // Returns that item's caption.
    static std::optional<std::string> chooseWindowCommand()
    {
        HMENU menu = GetSystemMenu(window(), FALSE);
        int last = GetMenuItemCount(menu) - 1;
        wchar_t caption[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(last), caption, static_cast<int>(std::size(caption)), MF_BYPOSITION);
        PostMessageW(window(), WM_SYSCOMMAND, GetMenuItemID(menu, last), 0);
        return utf8Of(caption);
    }
    // The entry the control shows selected, or -1.
    static int shownSelection()
    {
        LRESULT selected = SendMessageW(roster(), LB_GETCURSEL, 0, 0);
        return selected == LB_ERR ? -1 : static_cast<int>(selected);
    }
    // The program (not the user) selects an entry in the control, or none with -1.
    static void selectByProgram(int index) { SendMessageW(roster(), LB_SETCURSEL, static_cast<WPARAM>(index), 0); }

    // Esc wherever the focus is, the close message, the system menu, the session ending.
    static std::vector<CloseRequest> closeRequests()
    {
        auto escIn = [](std::function<HWND()> target) {
            return [target] {
                SetFocus(target());
                postKey(target(), VK_ESCAPE);
            };
        };
        return {
            { "Esc in the window", escIn(window) },
            { "Esc in the roster", escIn(roster) },
            { "Esc in the banner", escIn([] { return controlOf(编辑框2); }) },
            { "the close message", [] { PostMessageW(window(), WM_CLOSE, 0, 0); } },
            { "the system menu's close", [] { PostMessageW(window(), WM_SYSCOMMAND, SC_CLOSE, 0); } },
            { "the session ending", [] { EXPECT_TRUE(SendMessageW(window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF)); } },
        };
    }
    // The window closes from the frame's loop, which ends with it: runs that loop, as the
    // program does after loading its window, until it ends (the last window has gone) or the
    // bound passes; true when it ended by itself.
    static bool waitUntilClosed()
    {
        bool timedOut = false;
        ThreadTimer limit(kWaitLimitMs, [&] {
            timedOut = true;
            PostQuitMessage(0);
        });
        runMessageLoop();
        return !timedOut;
    }
    // A second close request on the closed window.
    static void requestCloseAgain(ClosingWindow closing)
    {
        PostMessageW(closing, WM_CLOSE, 0, 0);
        handlePending();
    }
    static bool destroyed(ClosingWindow closing) { return !IsWindow(closing); }

private:
    static HWND roster() { return controlOf(列表框1); }
    static ScreenRect rectOf(const RECT& rect) { return { rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top }; }
    static std::string utf8Of(const std::wstring& text)
    {
        int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
        if (length > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
        return bytes;
    }
};

} // namespace win32_console_test
