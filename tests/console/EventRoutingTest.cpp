// Event routing through the real window, with a counting handler table in place of the
// service's: the user's changes of the roster selection pop up 管理 and the program's do not,
// a chosen pop-up item runs its bound handler once after the pop-up has closed, Esc closes
// the pop-up or the window, the event block stops everything, and unknown event sources end
// the program through the fatal path.
#include "console/ConsoleFixture.h"
#include "console/EventRouting.h"
#include "runtime/EventBlock.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTextEdit>

#include <gmock/gmock.h>

#include <vector>

namespace {

using namespace console_test;
using ::testing::ElementsAre;

// Keeps events blocked while it lives, as the window's creation and the fatal path do.
class EventBlockScope {
public:
    EventBlockScope() { raiseEventBlock(); }
    ~EventBlockScope() { lowerEventBlock(); }
    EventBlockScope(const EventBlockScope&) = delete;
    EventBlockScope& operator=(const EventBlockScope&) = delete;
};

class EventRouting : public LoadedConsole {
protected:
    void SetUp() override
    {
        LoadedConsole::SetUp();
        fillRosterUnderTheAdminMenu();
        QCoreApplication::processEvents();
    }

    // Makes the console the active window, so that its keys reach it as the user's would.
    bool activate()
    {
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window, kWaitLimitMs);
    }
};

TEST_F(EventRouting, CreatedEventRanOnceBeforeAnythingElse)
{
    ASSERT_FALSE(handlerCalls().order.empty());
    EXPECT_EQ(handlerCalls().order.front(), kOnWindowCreated);
    EXPECT_EQ(handlerCalls().count[kOnWindowCreated], 1);
}

TEST_F(EventRouting, ClickOnAnEntryPopsUpTheMenuAtThePointer)
{
    QCursor::setPos(m_window->mapToGlobal(QPoint(100, 100)));
    const QPoint pointer = QCursor::pos();
    QStringList captions;
    QPoint shownAt;
    PopupDriver driver([&](QMenu* menu) {
        for (QAction* action : menu->actions())
            captions << action->text();
        shownAt = menu->pos();
        QTest::keyClick(menu, Qt::Key_Escape);
    });
    clickRosterEntry(1);
    pumpUntil([&] { return driver.acted() && !openPopup(); });

    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    ASSERT_TRUE(driver.acted()) << "the pop-up never opened";
    EXPECT_FALSE(driver.forcedClose()) << "Esc did not close the pop-up";
    QStringList expected;
    for (const MenuItemCase& item : kMenuItems)
        expected << utf8(item.caption);
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(shownAt, pointer + QPoint(3, 3));
    EXPECT_EQ(currentSelection(列表框1), 1);
    // Esc chose nothing.
    EXPECT_EQ(adminHandlerRuns(), 0);
}

TEST_F(EventRouting, ClickOnTheSelectedEntryPopsUpAgain)
{
    for (int click = 0; click < 2; ++click) {
        PopupDriver driver([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
        clickRosterEntry(0);
        ASSERT_TRUE(pumpUntil([&] { return driver.acted() && !openPopup(); }));
    }
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 2);
    EXPECT_EQ(currentSelection(列表框1), 0);
    EXPECT_EQ(adminHandlerRuns(), 0);
}

TEST_F(EventRouting, ArrowKeyMovingTheSelectionPopsUpTheMenu)
{
    QtListBox* list = rosterWidget();
    list->setCurrentRow(0);
    ASSERT_TRUE(activate());
    list->setFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(handlerCalls().count[kOnRosterSelect], 0) << "a selection by the program raised the event";

    PopupDriver driver([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
    QTest::keyClick(list, Qt::Key_Down);
    pumpUntil([&] { return driver.acted() && !openPopup(); });
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    EXPECT_TRUE(driver.acted());
    EXPECT_EQ(currentSelection(列表框1), 1);
}

TEST_F(EventRouting, ProgramChangesOfTheListRaiseNothing)
{
    QtListBox* list = rosterWidget();
    addItem(列表框1, "127.0.0.1:40004");
    list->setCurrentRow(3);
    deleteItem(列表框1, 0);
    deleteItem(列表框1, 2);
    list->setCurrentRow(0);
    list->clearSelection();
    addItem(列表框1, "127.0.0.1:40005");
    QCoreApplication::processEvents();
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 0);
    EXPECT_EQ(openPopup(), nullptr);
}

TEST_F(EventRouting, ChosenItemRunsItsHandlerOnceAfterThePopupClosed)
{
    for (const MenuItemCase& item : kMenuItems) {
        SCOPED_TRACE(utf8(item.caption).toStdString());
        handlerCalls().count = {};
        bool popupOpenDuringHandler = true;
        handlerCalls().extra[item.handler] = [&] {
            popupOpenDuringHandler = openPopup() != nullptr || QApplication::activePopupWidget() != nullptr;
        };
        PopupDriver driver([&](QMenu* menu) { chooseWithMouse(menu, utf8(item.caption)); });
        clickRosterEntry(2);
        pumpUntil([&] { return driver.acted() && !openPopup(); });
        handlerCalls().extra[item.handler] = nullptr;

        EXPECT_TRUE(driver.acted());
        EXPECT_FALSE(driver.forcedClose());
        expectChosenItemRanAlone(item, popupOpenDuringHandler);
    }
}

TEST_F(EventRouting, UnboundEventsRunNothing)
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

TEST_F(EventRouting, BlockedEventsRunNothing)
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
        clickRosterEntry(0);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 0);
    EXPECT_EQ(handlerCalls().count[kOnShake], 0);
    EXPECT_EQ(handlerCalls().count[kOnClientEnter], 0);
    EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 0);
    EXPECT_EQ(openPopup(), nullptr);
    // Lowered again, the same event runs.
    EXPECT_TRUE(raiseEvent(kConsoleWindowId, 列表框1.unitId, kListSelectionChanged));
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
}

// Esc closes the window wherever the focus is; the being-destroyed handler runs once, while
// the window and its server component still exist.
TEST_F(EventRouting, EscClosesTheWindowFromEachControl)
{
    enum class Focus { Window, Roster, Banner };
    for (Focus focus : { Focus::Window, Focus::Roster, Focus::Banner }) {
        SCOPED_TRACE(static_cast<int>(focus));
        if (!console()) {
            registerCountingHandlers();
            ASSERT_NE(loadConsoleOnFreePort(), 0);
            m_console = console();
            m_window = consoleWidget();
        }
        bool serverStillThere = false;
        bool windowStillLoaded = false;
        handlerCalls().extra[kOnWindowDestroyed] = [&] {
            windowStillLoaded = console() != nullptr;
            serverStillThere = serverComponent(服务器1).isListening();
        };
        ASSERT_TRUE(activate());
        QWidget* target = m_window;
        if (focus == Focus::Roster)
            target = rosterWidget();
        if (focus == Focus::Banner)
            target = m_window->findChildren<QTextEdit*>().front();
        target->setFocus();
        QCoreApplication::processEvents();

        QPointer<QWidget> window = m_window;
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_EQ(console(), nullptr) << "Esc did not close the window";
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        EXPECT_TRUE(windowStillLoaded);
        EXPECT_TRUE(serverStillThere);
        EXPECT_EQ(adminHandlerRuns(), 0);
        // A second close request on the closing window runs nothing more.
        if (window)
            window->close();
        if (console())
            console()->close();
        EXPECT_EQ(handlerCalls().count[kOnWindowDestroyed], 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull()) << "the closed window was not destroyed";
        closeConsole();
    }
}

TEST_F(EventRouting, WindowCanBeLoadedOnlyOnce)
{
    EXPECT_FALSE(loadWindow(kConsoleWindowId));
    EXPECT_EQ(console(), m_console);
    EXPECT_FALSE(loadWindow(0x52010002));
}

// Event sources that do not exist end the program: exit status 255 and the fatal dialog's
// text on standard error (UTF-8, since there is no display).
using EventRoutingDeathTest = LoadedConsole;

TEST_F(EventRoutingDeathTest, UnknownWindowIsFatal)
{
    EXPECT_EXIT(raiseEvent(0x52010002, kConsoleWindowUnitId, 0), ::testing::ExitedWithCode(255),
        ::testing::HasSubstr(reinterpret_cast<const char*>(u8"错误信息：未找到引发事件的窗口\n")));
}

TEST_F(EventRoutingDeathTest, UnknownUnitIsFatal)
{
    EXPECT_EXIT(raiseEvent(kConsoleWindowId, 0x1601FFFF, 0), ::testing::ExitedWithCode(255),
        ::testing::HasSubstr(reinterpret_cast<const char*>(u8"错误信息：未找到引发事件的窗口组件\n")));
}

TEST_F(EventRoutingDeathTest, OperationOnNoSuchUnitIsFatal)
{
    const std::string message = reinterpret_cast<const char*>(u8"错误信息：指定窗口或窗口组件不存在或尚未载入\n");
    EXPECT_EXIT(itemCount({ kConsoleWindowId, 0x1601FFFF, kTypeListBox }), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    // A unit of another kind than the operation's.
    EXPECT_EXIT(content({ kConsoleWindowId, 列表框1.unitId, kTypeEditBox }), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    EXPECT_EXIT(addItem({ kConsoleWindowId, 编辑框1.unitId, kTypeListBox }, "x"), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    // The window is no longer loaded.
    EXPECT_EXIT({
        closeConsole();
        itemCount(列表框1);
    },
        ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
}

} // namespace
