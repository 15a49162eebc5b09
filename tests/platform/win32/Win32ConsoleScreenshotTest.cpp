// Pictures of the Win32 console for a person to look at: the banner, three clients on the
// roster and the administrator's pop-up open over it, taken from the screen while the pop-up's
// own loop runs and saved beside the test binary: console-windows.png, and
// console-windows-names.png with members' names beside two of the addresses.
#include "platform/win32/Win32ConsoleDriver.h"
#include "platform/win32/Win32Files.h"

// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out of windows.h.
#include <objidl.h>
#include <gdiplus.h>

#include <string>
#include <vector>

namespace {

using namespace win32_console_test;

// Timer ticks the pop-up stays open before its picture is taken.
constexpr int kSettleTicks = 5;
// GDI+'s encoder for PNG files.
constexpr wchar_t kPngEncoder[] = L"{557CF406-1A04-11D3-9A73-0000F81EF32E}";

// The screen's pixels inside `area`, saved as a PNG file; true when written.
bool saveScreenArea(const RECT& area, const std::wstring& path)
{
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, picture);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR session = 0;
    bool saved = false;
    CLSID encoder {};
    if (copied && Gdiplus::GdiplusStartup(&session, &input, nullptr) == Gdiplus::Ok && SUCCEEDED(CLSIDFromString(kPngEncoder, &encoder))) {
        {
            Gdiplus::Bitmap bitmap(picture, nullptr);
            saved = bitmap.Save(path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(session);
    }
    DeleteObject(picture);
    return saved;
}

class Win32ConsoleScreenshot : public LoadedConsole<Win32ConsoleDriver> {
protected:
    // The names beside the entries, in roster order; an empty one for none.
    void takePicture(const char* fileName, const std::vector<const char*>& names);
};

TEST_F(Win32ConsoleScreenshot, PopupOverThreeClientsForAPerson) { takePicture("console-windows.png", {}); }

TEST_F(Win32ConsoleScreenshot, PopupOverNamedClientsForAPerson) { takePicture("console-windows-names.png", { "小明", "Amy", "" }); }

void Win32ConsoleScreenshot::takePicture(const char* fileName, const std::vector<const char*>& names)
{
    handlerCalls().extra[kOnRosterSelect] = [] { popupMenu(kConsoleWindowId, 管理); };
    setContent(编辑框2, "本机名称：chatroom-host\r\n本机IP：192.0.2.10");
    for (const char* client : { "127.0.0.1:50001", "127.0.0.1:50002", "192.0.2.77:61234" })
        addItem(列表框1, client);
    for (size_t index = 0; index < names.size(); ++index)
        setItemDecoration(列表框1, static_cast<int32_t>(index), names[index]);
    HWND list = controlOf(列表框1);
    RECT entry {};
    SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&entry));
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&entry), 2);
    SetCursorPos((entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2);
    // Everything drawn before the picture is taken.
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    Win32Files files;
    const std::wstring path = cp936ToWide(files.joinPath(files.programDirectory(), fileName));
    DeleteFileW(path.c_str());
    RECT pictured {};
    bool saved = false;
    bool taken = false;
    int openTicks = 0;
    ThreadTimer camera(kPopupPollMs, [&] {
        HWND menu = openPopup();
        if (!menu || taken)
            return;
        // Wine copies what a window drew to the X screen when its thread's loop is idle: a few
        // idle turns of the pop-up's own loop pass before the screen is read.
        UpdateWindow(menu);
        if (++openTicks < kSettleTicks)
            return;
        RECT window {};
        RECT popup {};
        GetWindowRect(m_window, &window);
        GetWindowRect(menu, &popup);
        UnionRect(&pictured, &window, &popup);
        saved = saveScreenArea(pictured, path);
        taken = true;
        postKey(menu, VK_ESCAPE);
    });
    Win32ConsoleDriver::clickEntry(1);
    ASSERT_TRUE(Win32ConsoleDriver::waitUntil([&] { return taken && !openPopup(); })) << "the pop-up never opened or never closed";
    ASSERT_TRUE(saved) << "the picture was not saved";

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR session = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&session, &input, nullptr), Gdiplus::Ok);
    {
        Gdiplus::Bitmap reread(path.c_str());
        EXPECT_EQ(static_cast<LONG>(reread.GetWidth()), pictured.right - pictured.left);
        EXPECT_EQ(static_cast<LONG>(reread.GetHeight()), pictured.bottom - pictured.top);
    }
    Gdiplus::GdiplusShutdown(session);
}

} // namespace
