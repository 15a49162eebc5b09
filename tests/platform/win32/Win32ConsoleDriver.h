// How the console tests drive the Win32 console (see console/ConsoleFixture.h): the window is
// a real top-level window made active, the user's clicks and keys are posted as the window
// receives them, the pop-up is TrackPopupMenu's menu window.
#pragma once

#include "console/ConsoleFixture.h"
#include "platform/win32/Win32ConsoleSupport.h"

#include <string>
#include <vector>

namespace win32_console_test {

using console_test::ChoiceWay;
using console_test::handlerCalls;
using console_test::LoadedConsole;
using console_test::registerCountingHandlers;
using console_test::ScreenPoint;
using console_test::ScreenRect;

// Runs the program frame's message loop, as the program does after loading its window, until
// it ends (the last window has gone) or the bound passes; true when it ended by itself.
inline bool runLoopUntilTheWindowHasGone()
{
    bool timedOut = false;
    ThreadTimer limit(kWaitLimitMs, [&] {
        timedOut = true;
        PostQuitMessage(0);
    });
    runMessageLoop();
    return !timedOut;
}

struct Win32ConsoleDriver {
    using Window = HWND;
    using ClosingWindow = HWND;
    using Popup = HWND;
    using PopupDriver = win32_console_test::PopupDriver;
    using PopupWatchdog = win32_console_test::PopupWatchdog;
    static constexpr const char* kName = "Win32";

    static int load() { return loadConsole(); }
    static void close() { closeConsole(); }
    static Window window() { return consoleWindow(); }
    static void handlePending() { dispatchPending(); }
    static bool waitUntil(const std::function<bool()>& done) { return pumpUntil(done); }
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

    static std::vector<std::string> captions(Popup menu)
    {
        std::vector<std::string> texts;
        for (const std::wstring& caption : popupCaptions(menu))
            texts.push_back(utf8Of(caption));
        return texts;
    }
    static ScreenPoint placeOf(Popup menu)
    {
        RECT shown {};
        GetWindowRect(menu, &shown);
        return { shown.left, shown.top };
    }
    static void pressEscape(Popup menu) { postKey(menu, VK_ESCAPE); }
    static void choose(Popup menu, int index, ChoiceWay way)
    {
        if (way == ChoiceWay::Keys)
            chooseWithKeys(menu, index);
        else
            chooseWithMouse(menu, index, way == ChoiceWay::RightButton);
    }

    // A user's click on the roster entry at `index`.
    static void clickEntry(int index) { win32_console_test::clickEntry(roster(), index); }
    // The roster has the keyboard's focus (the loaded console is the active window).
    static bool focusRoster()
    {
        SetFocus(roster());
        return GetFocus() == roster();
    }
    static void pressDownInRoster() { postKey(roster(), VK_DOWN); }
    // The entry the control shows selected, or -1.
    static int shownSelection()
    {
        LRESULT selected = SendMessageW(roster(), LB_GETCURSEL, 0, 0);
        return selected == LB_ERR ? -1 : static_cast<int>(selected);
    }
    // The program (not the user) selects an entry in the control, or none with -1.
    static void selectByProgram(int index) { SendMessageW(roster(), LB_SETCURSEL, static_cast<WPARAM>(index), 0); }

    struct CloseRequest {
        const char* what;
        std::function<void()> request;
    };
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
    // The window closes from the frame's loop, which ends with it.
    static bool waitUntilClosed() { return runLoopUntilTheWindowHasGone(); }
    // A second close request on the closed window.
    static void requestCloseAgain(ClosingWindow closing)
    {
        PostMessageW(closing, WM_CLOSE, 0, 0);
        dispatchPending();
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
