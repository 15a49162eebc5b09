// The user's input to the real console window as its window system delivers it, with the
// counting handler table in place of the service's, on each window system's driver (Qt on
// Linux, Win32 on Windows): the created event runs first; a click on a roster entry (also the
// selected one) or a move with the keyboard pops up 管理's items at the pointer, and the
// program's own changes raise nothing; a chosen item runs its bound handler once, after the
// pop-up has closed; the window's own command (the invite) runs its handler once; unbound and
// blocked events run nothing; and every way of closing the window runs the being-destroyed
// handler once, while the server component still exists.
#include "console/ConsoleDrivers.h"
#include "console/EventRouting.h"
#include "runtime/EventBlock.h"

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace console_test;

// Keeps events blocked while it lives, as the window's creation and the fatal path do.
class EventBlockScope {
public:
    EventBlockScope() { raiseEventBlock(); }
    ~EventBlockScope() { lowerEventBlock(); }
    EventBlockScope(const EventBlockScope&) = delete;
    EventBlockScope& operator=(const EventBlockScope&) = delete;
};

template<class Driver>
class ConsoleEvents : public LoadedConsole<Driver> {
protected:
    void SetUp() override
    {
        LoadedConsole<Driver>::SetUp();
        fillRosterUnderTheAdminMenu();
        Driver::handlePending();
    }

    // Runs `act` and Esc on the pop-up that it opens; false when none opened and closed.
    static bool escapeThePopupOf(const std::function<void()>& act)
    {
        typename Driver::PopupDriver driver([](typename Driver::Popup menu) { Driver::pressEscape(menu); });
        act();
        return Driver::waitUntil([&] { return driver.finished(); });
    }
};
TYPED_TEST_SUITE(ConsoleEvents, ConsoleDrivers, ConsoleDriverName);

TYPED_TEST(ConsoleEvents, CreatedEventRanOnceBeforeAnythingElse)
{
    ASSERT_FALSE(handlerCalls().order.empty());
    EXPECT_EQ(handlerCalls().order.front(), kOnWindowCreated);
    EXPECT_EQ(handlerCalls().count[kOnWindowCreated], 1);
}

TYPED_TEST(ConsoleEvents, ClickOnAnEntryPopsUpTheMenuAtThePointer)
{
    const ScreenPoint pointer = TypeParam::pointerOverWindow();
    std::vector<std::string> captions;
    ScreenPoint shownAt;
    typename TypeParam::PopupDriver driver([&](typename TypeParam::Popup menu) {
        captions = TypeParam::captions(menu);
        shownAt = TypeParam::placeOf(menu);
        TypeParam::pressEscape(menu);
    });
    TypeParam::clickEntry(1);
    TypeParam::waitUntil([&] { return driver.finished(); });

    ASSERT_TRUE(driver.acted()) << "the pop-up never opened";
    EXPECT_FALSE(driver.forcedClose()) << "Esc did not close the pop-up";
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    std::vector<std::string> expected;
    for (const MenuItemCase& item : kMenuItems)
        expected.push_back(reinterpret_cast<const char*>(item.caption));
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(shownAt, (ScreenPoint { pointer.x + kPopupOffset.x, pointer.y + kPopupOffset.y }));
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(adminHandlerRuns(), 0) << "Esc chose an item";
}

TYPED_TEST(ConsoleEvents, ClickOnTheSelectedEntryPopsUpAgain)
{
    for (int click = 0; click < 2; ++click) {
        SCOPED_TRACE(click);
        ASSERT_TRUE(this->escapeThePopupOf([] { TypeParam::clickEntry(0); }));
    }
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 2);
    EXPECT_EQ(currentSelection(列表框1), 0);
    EXPECT_EQ(adminHandlerRuns(), 0);
}

// From no selection, and from one the program made; each move pops up the menu once.
TYPED_TEST(ConsoleEvents, ArrowKeyMovingTheSelectionPopsUpTheMenu)
{
    ASSERT_TRUE(TypeParam::focusRoster());
    ASSERT_TRUE(this->escapeThePopupOf(TypeParam::pressDownInRoster));
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    EXPECT_NE(currentSelection(列表框1), -1);
    EXPECT_EQ(TypeParam::shownSelection(), currentSelection(列表框1));

    handlerCalls().count = {};
    TypeParam::selectByProgram(0);
    TypeParam::handlePending();
    ASSERT_EQ(handlerCalls().count[kOnRosterSelect], 0) << "a selection by the program raised the event";
    ASSERT_TRUE(this->escapeThePopupOf(TypeParam::pressDownInRoster));
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(TypeParam::shownSelection(), 1);
}

TYPED_TEST(ConsoleEvents, ProgramChangesOfTheListRaiseNothing)
{
    // A selection the user made, then moved and cleared by the program's deletions.
    ASSERT_TRUE(this->escapeThePopupOf([] { TypeParam::clickEntry(2); }));
    handlerCalls().count = {};

    deleteItem(列表框1, 0);
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(TypeParam::shownSelection(), 1);
    addItem(列表框1, "127.0.0.1:40004");
    deleteItem(列表框1, 1);
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(TypeParam::shownSelection(), -1);
    // The program's own selections in the control, moved and deleted too.
    TypeParam::selectByProgram(1);
    deleteItem(列表框1, 0);
    deleteItem(列表框1, 0);
    addItem(列表框1, "127.0.0.1:40005");
    TypeParam::selectByProgram(0);
    TypeParam::selectByProgram(-1);
    TypeParam::handlePending();
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 0);
    EXPECT_FALSE(TypeParam::popupOpen());
}

// Keys and both mouse buttons choose; the handler runs once, after the pop-up has gone.
TYPED_TEST(ConsoleEvents, ChosenItemRunsItsHandlerOnceAfterThePopupClosed)
{
    for (ChoiceWay way : { ChoiceWay::Keys, ChoiceWay::LeftButton, ChoiceWay::RightButton }) {
        for (size_t index = 0; index < kMenuItems.size(); ++index) {
            const MenuItemCase& item = kMenuItems[index];
            SCOPED_TRACE(testing::Message() << "way " << static_cast<int>(way) << ", item " << index);
            handlerCalls().count = {};
            bool popupOpenDuringHandler = true;
            handlerCalls().extra[item.handler] = [&] { popupOpenDuringHandler = TypeParam::popupOpen(); };
            typename TypeParam::PopupDriver driver([&](typename TypeParam::Popup menu) { TypeParam::choose(menu, static_cast<int>(index), way); });
            TypeParam::clickEntry(2);
            TypeParam::waitUntil([&] { return driver.finished(); });
            handlerCalls().extra[item.handler] = nullptr;

            EXPECT_TRUE(driver.acted());
            EXPECT_FALSE(driver.forcedClose());
            expectChosenItemRanAlone(item, popupOpenDuringHandler);
        }
    }
}

TYPED_TEST(ConsoleEvents, TheWindowCommandRunsTheInviteOnce)
{
    if (std::optional<std::string> caption = TypeParam::chooseWindowCommand()) {
        EXPECT_EQ(*caption, reinterpret_cast<const char*>(u8"显示加入地址…"));
    }
    EXPECT_TRUE(TypeParam::waitUntil([] { return handlerCalls().count[kOnInvite] > 0; }));
    TypeParam::handlePending();
    EXPECT_EQ(handlerCalls().count[kOnInvite], 1);
}

TYPED_TEST(ConsoleEvents, UnboundEventsRunNothing)
{
    const std::vector<int> before = handlerCalls().order;
    // The close queries, the creation's follow-ups, the list's double click and 管理's click.
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, kConsoleWindowUnitId, kWindowCloseQueryFirst));
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, kConsoleWindowUnitId, kWindowCloseQuery));
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, kConsoleWindowUnitId, kWindowCreatedFollowUp1));
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, 列表框1.unitId, kListDoubleClick));
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, 管理.unitId, kMenuItemClick));
    EXPECT_FALSE(raiseEvent(kConsoleWindowId, 编辑框1.unitId, 0));
    EXPECT_EQ(handlerCalls().order, before);
    // A bound one does run, and reports so.
    EXPECT_TRUE(raiseEvent(kConsoleWindowId, 抖动.unitId, kMenuItemClick));
    EXPECT_EQ(handlerCalls().count[kOnShake], 1);
}

TYPED_TEST(ConsoleEvents, BlockedEventsRunNothing)
{
    handlerCalls().extra[kOnRosterSelect] = nullptr;
    {
        EventBlockScope block;
        EXPECT_FALSE(raiseEvent(kConsoleWindowId, 列表框1.unitId, kListSelectionChanged));
        EXPECT_FALSE(raiseEvent(kConsoleWindowId, 抖动.unitId, kMenuItemClick));
        EXPECT_FALSE(raiseEvent(kConsoleWindowId, 服务器1.unitId, 1));
        EXPECT_FALSE(raiseEvent(kConsoleWindowId, kConsoleWindowUnitId, kWindowBeingDestroyed));
        // Not even an unknown source is looked at while blocked.
        EXPECT_FALSE(raiseEvent(0x52019999, kConsoleWindowUnitId, 0));
        // A user's click is not delivered either.
        TypeParam::clickEntry(0);
        TypeParam::handlePending();
    }
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 0);
    EXPECT_EQ(handlerCalls().count[kOnShake], 0);
    EXPECT_EQ(handlerCalls().count[kOnClientEnter], 0);
    EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 0);
    EXPECT_FALSE(TypeParam::popupOpen());
    // Lowered again, the same event runs.
    EXPECT_TRUE(raiseEvent(kConsoleWindowId, 列表框1.unitId, kListSelectionChanged));
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
}

// Every way of closing: the being-destroyed handler runs once, while the window and its
// server component still exist, and a second request on the closing window runs nothing more.
TYPED_TEST(ConsoleEvents, EveryCloseRequestDissolvesOnce)
{
    for (const auto& way : TypeParam::closeRequests()) {
        SCOPED_TRACE(way.what);
        if (!findLoadedWindow(kConsoleWindowId)) {
            registerCountingHandlers();
            ASSERT_NE(TypeParam::load(), 0);
        }
        bool windowStillLoaded = false;
        bool serverStillThere = false;
        handlerCalls().extra[kOnWindowDestroyed] = [&] {
            windowStillLoaded = findLoadedWindow(kConsoleWindowId) != nullptr;
            serverStillThere = windowStillLoaded && serverComponent(服务器1).isListening();
        };
        typename TypeParam::ClosingWindow window = TypeParam::window();

        way.request();
        EXPECT_TRUE(TypeParam::waitUntilClosed()) << "the window did not close";
        EXPECT_EQ(findLoadedWindow(kConsoleWindowId), nullptr);
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        EXPECT_TRUE(windowStillLoaded);
        EXPECT_TRUE(serverStillThere);
        EXPECT_EQ(adminHandlerRuns(), 0);
        TypeParam::requestCloseAgain(window);
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        EXPECT_TRUE(TypeParam::destroyed(window)) << "the closed window was not destroyed";
        TypeParam::close();
    }
}

TYPED_TEST(ConsoleEvents, WindowCanBeLoadedOnlyOnce)
{
    EXPECT_FALSE(loadWindow(kConsoleWindowId));
    EXPECT_EQ(findLoadedWindow(kConsoleWindowId), this->m_console);
    EXPECT_FALSE(loadWindow(0x52010002));
}

} // namespace
