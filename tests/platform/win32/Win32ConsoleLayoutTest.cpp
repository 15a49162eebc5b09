// The Win32 console as the form describes it, read back from the real windows: the caption,
// outer size, place and frame of the window, the banner box's and the roster's controls and
// styles, the marker store that has no control at all, and the roster's entries following
// its model through the control operations.
#include "platform/win32/Win32ConsoleDriver.h"

#include <string>
#include <vector>

namespace {

using namespace win32_console_test;

constexpr int kOuterWidth = 225;
constexpr int kOuterHeight = 240;

using Win32ConsoleLayout = LoadedConsole<Win32ConsoleDriver>;

TEST_F(Win32ConsoleLayout, CaptionOuterSizeAndFixedFrame)
{
    EXPECT_EQ(windowText(m_window), L"聊天室服务器");
    EXPECT_EQ(windowText(m_window), wide("聊天室服务器"));
    EXPECT_TRUE(IsWindowVisible(m_window));
    RECT outer {};
    GetWindowRect(m_window, &outer);
    EXPECT_EQ(outer.right - outer.left, kOuterWidth);
    EXPECT_EQ(outer.bottom - outer.top, kOuterHeight);

    auto style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the user could resize the window";
    // 管理 is hidden: no menu bar, its items appear only as the pop-up.
    EXPECT_EQ(GetMenu(m_window), nullptr);
}

TEST_F(Win32ConsoleLayout, OpensCentredOnTheWorkArea)
{
    RECT area {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
    RECT outer {};
    GetWindowRect(m_window, &outer);
    EXPECT_EQ(outer.left, area.left + (area.right - area.left - kOuterWidth) / 2);
    EXPECT_EQ(outer.top, area.top + (area.bottom - area.top - kOuterHeight) / 2);
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

    appendText(编辑框1, "127.0.0.1:4000=1\r\n");
    EXPECT_EQ(content(编辑框1), "127.0.0.1:4000=1\r\n");
    dispatchPending();
    for (HWND child : children)
        EXPECT_EQ(windowText(child).find(L"4000=1"), std::wstring::npos);
}

TEST_F(Win32ConsoleLayout, BannerBoxIsReadOnlyCentredBorderlessOnTheButtonFace)
{
    HWND banner = controlOf(编辑框2);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(lstrcmpiW(className(banner).c_str(), L"Edit"), 0);
    EXPECT_TRUE(IsWindowVisible(banner));
    RECT place = placeInParent(banner);
    EXPECT_EQ(place.left, 5);
    EXPECT_EQ(place.top, 5);
    EXPECT_EQ(place.right - place.left, 210);
    EXPECT_EQ(place.bottom - place.top, 25);

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

    EXPECT_EQ(windowText(banner), L"");
    setContent(编辑框2, "本机名称：host\r\n本机IP：127.0.0.1");
    EXPECT_EQ(windowText(banner), L"本机名称：host\r\n本机IP：127.0.0.1");
}

TEST_F(Win32ConsoleLayout, RosterIsAnUnsortedNotifyingSingleSelectionListBoxAtItsStoredPlace)
{
    HWND list = controlOf(列表框1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(lstrcmpiW(className(list).c_str(), L"ListBox"), 0);
    EXPECT_TRUE(IsWindowVisible(list));
    RECT place = placeInParent(list);
    EXPECT_EQ(place.left, 5);
    EXPECT_EQ(place.top, 35);
    EXPECT_EQ(place.right - place.left, 210);
    EXPECT_EQ(place.bottom - place.top, 170);

    auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
    EXPECT_TRUE(style & LBS_NOTIFY);
    EXPECT_FALSE(style & LBS_SORT);
    EXPECT_FALSE(style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) << "more than one entry could be selected";
    EXPECT_TRUE(GetWindowLongPtrW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(Win32ConsoleLayout, RosterHasAScrollBarWhenItsEntriesDoNotFit)
{
    HWND list = controlOf(列表框1);
    auto scrollBar = [list] { return (GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL) != 0; };
    addItem(列表框1, "127.0.0.1:40001");
    EXPECT_FALSE(scrollBar()) << "a scroll bar for one entry";
    auto lineHeight = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    ASSERT_GT(lineHeight, 0);
    RECT place = placeInParent(list);
    for (int entry = 1; entry <= (place.bottom - place.top) / lineHeight; ++entry)
        addItem(列表框1, "127.0.0.1:40002");
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

// The entries the control shows, as wide texts.
std::vector<std::wstring> shownEntries(HWND list)
{
    std::vector<std::wstring> entries;
    for (LRESULT index = 0; index < SendMessageW(list, LB_GETCOUNT, 0, 0); ++index) {
        std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()))));
        entries.push_back(text);
    }
    return entries;
}

TEST_F(Win32ConsoleLayout, RosterEntriesFollowTheModel)
{
    HWND list = controlOf(列表框1);
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::wstring> shown;
    };
    const std::vector<Step> steps = {
        { "three added", [] {
             addItem(列表框1, "127.0.0.1:40001");
             addItem(列表框1, "聊天室:2");
             addItem(列表框1, "127.0.0.1:40003");
         },
            { L"127.0.0.1:40001", L"聊天室:2", L"127.0.0.1:40003" } },
        { "the middle one deleted", [] { deleteItem(列表框1, 1); }, { L"127.0.0.1:40001", L"127.0.0.1:40003" } },
        { "an index past the end", [] { deleteItem(列表框1, 2); }, { L"127.0.0.1:40001", L"127.0.0.1:40003" } },
        { "one added after deletions goes last", [] { addItem(列表框1, "127.0.0.1:40004"); },
            { L"127.0.0.1:40001", L"127.0.0.1:40003", L"127.0.0.1:40004" } },
        { "the first one deleted", [] { deleteItem(列表框1, 0); }, { L"127.0.0.1:40003", L"127.0.0.1:40004" } },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(shownEntries(list), step.shown);
        ASSERT_EQ(itemCount(列表框1), static_cast<int32_t>(step.shown.size()));
        for (int32_t index = 0; index < itemCount(列表框1); ++index)
            EXPECT_EQ(wide(itemText(列表框1, index)), step.shown[static_cast<size_t>(index)]);
    }
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);
}

} // namespace
