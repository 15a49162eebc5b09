// The user's input to the Win32 console as Windows delivers it, with the console tests'
// counting handlers: a click on a roster entry (also the selected one) or a move with the
// keyboard pops up 管理's items at the pointer, the program's own changes raise nothing, a
// chosen item's click event runs once after the pop-up has closed, and every way of closing
// the window (Esc in any control, the close message, the system menu, the session ending)
// goes through the close request and runs the being-destroyed handler once.
#include "platform/win32/Win32ConsoleFixture.h"
#include "runtime/ProgramFrame.h"

#include <string>
#include <vector>

namespace {

using namespace win32_console_test;
using console_test::adminHandlerRuns;
using console_test::expectChosenItemRanAlone;
using console_test::fillRosterUnderTheAdminMenu;
using console_test::kMenuItems;
using console_test::MenuItemCase;

// A caption of the shared menu table as the Win32 menu holds it.
std::wstring wideCaption(const char8_t* utf8)
{
    auto bytes = reinterpret_cast<const char*>(utf8);
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(length > 0 ? length - 1 : 0), L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_UTF8, 0, bytes, -1, text.data(), length);
    return text;
}

class Win32ConsoleEvents : public LoadedConsole {
protected:
    void SetUp() override
    {
        LoadedConsole::SetUp();
        fillRosterUnderTheAdminMenu();
        m_list = controlOf(列表框1);
    }

    HWND m_list = nullptr;
};

TEST_F(Win32ConsoleEvents, ClickOnAnEntryPopsUpTheMenuAtThePointer)
{
    RECT outer {};
    GetWindowRect(m_window, &outer);
    SetCursorPos(outer.left + 100, outer.top + 100);
    POINT pointer {};
    GetCursorPos(&pointer);
    std::vector<std::wstring> captions;
    RECT shownAt {};
    PopupDriver driver([&](HWND menu) {
        captions = popupCaptions(menu);
        GetWindowRect(menu, &shownAt);
        postKey(menu, VK_ESCAPE);
    });
    clickEntry(m_list, 1);
    pumpUntil([&] { return driver.finished(); });

    ASSERT_TRUE(driver.acted()) << "the pop-up never opened";
    EXPECT_FALSE(driver.forcedClose()) << "Esc did not close the pop-up";
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    std::vector<std::wstring> expected;
    for (const MenuItemCase& item : kMenuItems)
        expected.push_back(wideCaption(item.caption));
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(shownAt.left, pointer.x + 3);
    EXPECT_EQ(shownAt.top, pointer.y + 3);
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(adminHandlerRuns(), 0) << "Esc chose an item";
}

TEST_F(Win32ConsoleEvents, ClickOnTheSelectedEntryPopsUpAgain)
{
    for (int click = 0; click < 2; ++click) {
        SCOPED_TRACE(click);
        PopupDriver driver([](HWND menu) { postKey(menu, VK_ESCAPE); });
        clickEntry(m_list, 0);
        ASSERT_TRUE(pumpUntil([&] { return driver.finished(); }));
    }
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 2);
    EXPECT_EQ(currentSelection(列表框1), 0);
    EXPECT_EQ(adminHandlerRuns(), 0);
}

TEST_F(Win32ConsoleEvents, ArrowKeyMovingTheSelectionPopsUpTheMenu)
{
    SetFocus(m_list);
    PopupDriver driver([](HWND menu) { postKey(menu, VK_ESCAPE); });
    // The first Down selects the first entry, the second moves on to the next.
    postKey(m_list, VK_DOWN);
    ASSERT_TRUE(pumpUntil([&] { return driver.finished(); }));
    PopupDriver second([](HWND menu) { postKey(menu, VK_ESCAPE); });
    postKey(m_list, VK_DOWN);
    ASSERT_TRUE(pumpUntil([&] { return second.finished(); }));
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 2);
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(SendMessageW(m_list, LB_GETCURSEL, 0, 0), 1);
}

TEST_F(Win32ConsoleEvents, ProgramChangesOfTheListRaiseNothing)
{
    // A selection the user made, then moved and cleared by the program's deletions.
    PopupDriver driver([](HWND menu) { postKey(menu, VK_ESCAPE); });
    clickEntry(m_list, 2);
    ASSERT_TRUE(pumpUntil([&] { return driver.finished(); }));
    handlerCalls().count = {};

    deleteItem(列表框1, 0);
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(SendMessageW(m_list, LB_GETCURSEL, 0, 0), 1);
    addItem(列表框1, "127.0.0.1:40004");
    deleteItem(列表框1, 1);
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(SendMessageW(m_list, LB_GETCURSEL, 0, 0), LB_ERR);
    addItem(列表框1, "127.0.0.1:40005");
    dispatchPending();
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 0);
    EXPECT_EQ(openPopup(), nullptr);
}

// Keys and both mouse buttons choose; the handler runs once, after the pop-up has gone.
TEST_F(Win32ConsoleEvents, ChosenItemRunsItsHandlerOnceAfterThePopupClosed)
{
    enum class Way { Keys, LeftButton, RightButton };
    for (Way way : { Way::Keys, Way::LeftButton, Way::RightButton }) {
        for (size_t index = 0; index < kMenuItems.size(); ++index) {
            const MenuItemCase& item = kMenuItems[index];
            SCOPED_TRACE(testing::Message() << "way " << static_cast<int>(way) << ", item " << index);
            handlerCalls().count = {};
            bool popupOpenDuringHandler = true;
            handlerCalls().extra[item.handler] = [&] { popupOpenDuringHandler = openPopup() != nullptr; };
            PopupDriver driver([&](HWND menu) {
                if (way == Way::Keys)
                    chooseWithKeys(menu, static_cast<int>(index));
                else
                    chooseWithMouse(menu, static_cast<int>(index), way == Way::RightButton);
            });
            clickEntry(m_list, 2);
            pumpUntil([&] { return driver.finished(); });
            handlerCalls().extra[item.handler] = nullptr;

            EXPECT_TRUE(driver.acted());
            EXPECT_FALSE(driver.forcedClose());
            expectChosenItemRanAlone(item, popupOpenDuringHandler);
        }
    }
}

// Runs the program frame's message loop, as the program does after loading its window, until
// it ends (the last window has gone) or the bound passes; true when it ended by itself.
bool runLoopUntilTheWindowHasGone()
{
    bool timedOut = false;
    ThreadTimer limit(kWaitLimitMs, [&] {
        timedOut = true;
        PostQuitMessage(0);
    });
    runMessageLoop();
    return !timedOut;
}

// Every way of closing: the console goes through its close request, the being-destroyed
// handler runs once while the server component still exists, and the frame's loop ends.
TEST_F(Win32ConsoleEvents, EveryCloseRequestDissolvesOnce)
{
    enum class Target { Window, Roster, Banner };
    struct CloseCase {
        const char* what;
        std::function<void(HWND window)> request;
    };
    auto escIn = [](Target target) {
        return [target](HWND window) {
            HWND focus = target == Target::Roster ? controlOf(列表框1) : target == Target::Banner ? controlOf(编辑框2) : window;
            SetFocus(focus);
            postKey(focus, VK_ESCAPE);
        };
    };
    const std::vector<CloseCase> cases = {
        { "Esc in the window", escIn(Target::Window) },
        { "Esc in the roster", escIn(Target::Roster) },
        { "Esc in the banner", escIn(Target::Banner) },
        { "the close message", [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); } },
        { "the system menu's close", [](HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); } },
        { "the session ending", [](HWND window) { EXPECT_TRUE(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF)); } },
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (!console()) {
            registerCountingHandlers();
            ASSERT_TRUE(loadConsole());
        }
        HWND window = consoleWindow();
        bool serverStillThere = false;
        handlerCalls().extra[kOnWindowDestroyed] = [&] { serverStillThere = console() && serverComponent(服务器1).isListening(); };

        c.request(window);
        EXPECT_TRUE(runLoopUntilTheWindowHasGone()) << "the window did not close";
        EXPECT_EQ(console(), nullptr);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        EXPECT_TRUE(serverStillThere);
        EXPECT_EQ(adminHandlerRuns(), 0);
        // A second request on the gone window runs nothing more.
        PostMessageW(window, WM_CLOSE, 0, 0);
        dispatchPending();
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        closeConsole();
    }
}

} // namespace
