// A message box shown while the console is up belongs to it: it is modal to the console, and
// once answered the console has the keyboard again, so that Esc reaches it without a click.
#include "platform/win32/Win32ConsoleDriver.h"

#include "runtime/MessageBox.h"

namespace {

using namespace win32_console_test;

using Win32MessageBoxFocus = LoadedConsole<Win32ConsoleDriver>;

// The message box open on this thread, or nullptr.
HWND openBox()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND candidate, LPARAM result) -> BOOL {
        if (!IsWindowVisible(candidate) || className(candidate) != L"#32770")
            return TRUE;
        *reinterpret_cast<HWND*>(result) = candidate;
        return FALSE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST_F(Win32MessageBoxFocus, TheConsoleHasTheKeyboardAgainOnceTheBoxIsAnswered)
{
    HWND owner = nullptr;
    bool consoleDisabled = false;
    // The administrator answers the box as soon as it is there (Esc, as on the keyboard).
    ThreadTimer answer(kPopupPollMs, [&] {
        HWND box = openBox();
        if (!box || owner)
            return;
        owner = GetWindow(box, GW_OWNER);
        consoleDisabled = !IsWindowEnabled(m_window);
        postKey(box, VK_ESCAPE);
    });
    messageBox("reply.ini", kMessageBoxIconError);
    EXPECT_EQ(owner, m_window);
    EXPECT_TRUE(consoleDisabled) << "the box was not modal to the console";
    HWND window = m_window;
    EXPECT_TRUE(Win32ConsoleDriver::waitUntil([window] {
        HWND focus = GetFocus();
        return GetActiveWindow() == window && (focus == window || IsChild(window, focus));
    })) << "active " << GetActiveWindow() << ", focus " << GetFocus();
}

} // namespace
