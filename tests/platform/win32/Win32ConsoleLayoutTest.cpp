// The Win32 console where Win32's own properties say it: the window's frame and styles, the
// banner box's and the roster's control classes and styles, the marker store that has no
// control at all, the roster's scroll bar and line height, and the banner's two lines. What
// every window system shares is in tests/console/ConsoleLayoutTest.cpp.
#include "platform/win32/Win32ConsoleDriver.h"

#include <string>
#include <vector>

namespace {

using namespace win32_console_test;

using Win32ConsoleLayout = LoadedConsole<Win32ConsoleDriver>;

TEST_F(Win32ConsoleLayout, TitleBarAndFixedFrame)
{
    // The caption as Windows holds it, wide.
    EXPECT_EQ(windowText(m_window), L"聊天室服务器");
    auto style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the user could resize the window";
    // 管理 is hidden: no menu bar, its items appear only as the pop-up.
    EXPECT_EQ(GetMenu(m_window), nullptr);
}

// 编辑框2 and 列表框1 are the window's only controls; 编辑框1 is a model without any window.
TEST_F(Win32ConsoleLayout, OnlyTheBannerAndTheRosterHaveControls)
{
    std::vector<HWND> children;
    EnumChildWindows(m_window, [](HWND child, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&children));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(controlOf(编辑框1), nullptr);
    EXPECT_EQ(children[0], controlOf(编辑框2));
    EXPECT_EQ(children[1], controlOf(列表框1));
}

TEST_F(Win32ConsoleLayout, BannerBoxIsReadOnlyCentredBorderlessOnTheButtonFace)
{
    HWND banner = controlOf(编辑框2);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(lstrcmpiW(className(banner).c_str(), L"Edit"), 0);

    auto style = static_cast<DWORD>(GetWindowLongPtrW(banner, GWL_STYLE));
    auto extended = static_cast<DWORD>(GetWindowLongPtrW(banner, GWL_EXSTYLE));
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_EQ(style & (ES_CENTER | ES_RIGHT), static_cast<DWORD>(ES_CENTER));
    EXPECT_FALSE(style & (WS_BORDER | WS_VSCROLL | WS_HSCROLL));
    EXPECT_FALSE(extended & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
    // A read-only box asks its parent for the colours of a static control.
    HDC dc = GetDC(banner);
    LRESULT brush = SendMessageW(m_window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(banner));
    ReleaseDC(banner, dc);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_BTNFACE));
}

TEST_F(Win32ConsoleLayout, RosterIsAnUnsortedNotifyingSingleSelectionListBox)
{
    HWND list = controlOf(列表框1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(lstrcmpiW(className(list).c_str(), L"ListBox"), 0);

    auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
    EXPECT_TRUE(style & LBS_NOTIFY);
    EXPECT_FALSE(style & LBS_SORT);
    EXPECT_FALSE(style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) << "more than one entry could be selected";
    EXPECT_TRUE(GetWindowLongPtrW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

TEST_F(Win32ConsoleLayout, RosterHasAScrollBarWhenItsEntriesDoNotFit)
{
    HWND list = controlOf(列表框1);
    auto scrollBar = [list] { return (GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL) != 0; };
    // The control is drawn, scroll bar and all, once the thread's posted messages are handled,
    // as they are before any painting or input: changes come in bursts.
    addItem(列表框1, "127.0.0.1:40001");
    Win32ConsoleDriver::handlePending();
    EXPECT_FALSE(scrollBar()) << "a scroll bar for one entry";
    auto lineHeight = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    ASSERT_GT(lineHeight, 0);
    RECT place = placeInParent(list);
    for (int entry = 1; entry <= (place.bottom - place.top) / lineHeight; ++entry)
        addItem(列表框1, "127.0.0.1:40002");
    Win32ConsoleDriver::handlePending();
    EXPECT_TRUE(scrollBar()) << "entries that do not fit and no scroll bar";
}

// The height of a line of the control's font.
int fontLineHeight(HWND control)
{
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return metrics.tmHeight;
}

// The banner's two lines (name, address) both fit in its 25 pixels.
TEST_F(Win32ConsoleLayout, BannerShowsBothOfItsLines)
{
    HWND banner = controlOf(编辑框2);
    setContent(编辑框2, "本机名称：chatroom-host\r\n本机IP：192.0.2.10");
    ASSERT_EQ(SendMessageW(banner, EM_GETLINECOUNT, 0, 0), 2);
    RECT shown {};
    SendMessageW(banner, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&shown));
    LRESULT secondLine = SendMessageW(banner, EM_LINEINDEX, 1, 0);
    LRESULT at = SendMessageW(banner, EM_POSFROMCHAR, static_cast<WPARAM>(secondLine), 0);
    int secondLineTop = static_cast<short>(HIWORD(at));
    EXPECT_LE(secondLineTop + fontLineHeight(banner), static_cast<int>(shown.bottom)) << "the second line is cut off";
}

TEST_F(Win32ConsoleLayout, RosterEntriesAreALineAndAPixelTall)
{
    HWND list = controlOf(列表框1);
    addItem(列表框1, "127.0.0.1:40001");
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), fontLineHeight(list) + 1);
}

} // namespace
