// The console window as the administrator sees it: caption, outer size, centred position,
// title bar buttons, the units of its form, which of them are shown, and a screenshot saved
// beside the test binary for a person to look at.
#include "console/QtConsoleDriver.h"
#include "runtime/Files.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTextEdit>

#include <vector>

namespace {

using namespace console_test;

using ConsoleWindowLayout = LoadedConsole<QtConsoleDriver>;

TEST_F(ConsoleWindowLayout, CaptionSizeAndTitleBar)
{
    EXPECT_EQ(m_window->windowTitle(), utf8(u8"聊天室服务器"));
    EXPECT_TRUE(m_window->isVisible());
    // The stored size is the outer size, frame included.
    EXPECT_EQ(m_window->frameGeometry().size(), QSize(225, 240));
    // A fixed frame: the user cannot resize it.
    EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize());
    Qt::WindowFlags flags = m_window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    // No menu bar: 管理 is hidden and its items appear only as the pop-up.
    EXPECT_TRUE(m_window->findChildren<QMenuBar*>().isEmpty());
}

TEST_F(ConsoleWindowLayout, OpensCentredOnTheScreen)
{
    ASSERT_NE(m_window->screen(), nullptr);
    QRect screen = m_window->screen()->geometry();
    QPoint expected(screen.left() + (screen.width() - 225) / 2, screen.top() + (screen.height() - 240) / 2);
    EXPECT_EQ(m_window->frameGeometry().topLeft(), expected);
}

TEST_F(ConsoleWindowLayout, EveryUnitOfTheFormExists)
{
    struct Unit {
        const char* name;
        uint32_t unitId;
        uint32_t typeCode;
    };
    const std::vector<Unit> units = {
        { "the window", kConsoleWindowUnitId, kTypeWindow },
        { "编辑框2", 编辑框2.unitId, kTypeEditBox },
        { "编辑框1", 编辑框1.unitId, kTypeEditBox },
        { "管理", 管理.unitId, kTypeMenuItem },
        { "踢出", 踢出.unitId, kTypeMenuItem },
        { "抖动", 抖动.unitId, kTypeMenuItem },
        { "地震", 地震.unitId, kTypeMenuItem },
        { "奖励", 奖励.unitId, kTypeMenuItem },
        { "禁言", 禁言.unitId, kTypeMenuItem },
        { "恶搞", 恶搞.unitId, kTypeMenuItem },
        { "服务器1", 服务器1.unitId, kTypeServer },
        { "列表框1", 列表框1.unitId, kTypeListBox },
    };
    for (const Unit& unit : units) {
        SCOPED_TRACE(unit.name);
        const UnitDescription* found = m_console->findUnit(unit.unitId);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->typeCode, unit.typeCode);
    }
    EXPECT_EQ(m_console->findUnit(0x1601FFFF), nullptr);
    // The constant references name the units the form has, with the right kinds.
    EXPECT_EQ(m_console->findUnit(列表框1.unitId)->typeCode, 列表框1.typeCode);
    EXPECT_EQ(m_console->findUnit(服务器1.unitId)->typeCode, 服务器1.typeCode);
}

TEST_F(ConsoleWindowLayout, RosterListIsShownEmptyAtItsStoredPlace)
{
    QtListBox* list = rosterWidget();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->geometry(), QRect(5, 35, 210, 170));
    EXPECT_EQ(list->model()->rowCount(), 0);
    EXPECT_EQ(itemCount(列表框1), 0);
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    // The entries are shown straight from their model, in the order added: no sorting proxy.
    EXPECT_NE(dynamic_cast<ListBoxItems*>(list->model()), nullptr);
}

TEST_F(ConsoleWindowLayout, BannerBoxIsTheOnlyShownTextBox)
{
    // 编辑框2 is the one text box on screen: borderless, centred, read-only.
    QList<QTextEdit*> boxes = m_window->findChildren<QTextEdit*>();
    ASSERT_EQ(boxes.size(), 1);
    QTextEdit* banner = boxes.front();
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->geometry(), QRect(5, 5, 210, 25));
    EXPECT_TRUE(banner->isReadOnly());
    EXPECT_EQ(banner->frameShape(), QFrame::NoFrame);
    EXPECT_TRUE(banner->document()->defaultTextOption().alignment().testFlag(Qt::AlignHCenter));
    EXPECT_EQ(content(编辑框2), "");

    setContent(编辑框2, "本机名称：host\r\n本机IP：127.0.0.1");
    EXPECT_EQ(banner->toPlainText(), utf8(u8"本机名称：host\n本机IP：127.0.0.1"));
}

TEST_F(ConsoleWindowLayout, MarkerStoreHoldsTextButIsNeverShown)
{
    EXPECT_EQ(content(编辑框1), "");
    appendText(编辑框1, "127.0.0.1:4000=1\r\n");
    EXPECT_EQ(content(编辑框1), "127.0.0.1:4000=1\r\n");
    QCoreApplication::processEvents();
    // No widget on the window shows the store's text.
    for (QTextEdit* box : m_window->findChildren<QTextEdit*>())
        EXPECT_FALSE(box->toPlainText().contains(QLatin1String("4000=1")));
    for (QLineEdit* box : m_window->findChildren<QLineEdit*>())
        EXPECT_FALSE(box->isVisible() && box->text().contains(QLatin1String("4000=1")));
    for (QLabel* label : m_window->findChildren<QLabel*>())
        EXPECT_FALSE(label->isVisible() && label->text().contains(QLatin1String("4000=1")));
}

TEST_F(ConsoleWindowLayout, ScreenshotForAPerson)
{
    setContent(编辑框2, "本机名称：chatroom-host\r\n本机IP：192.0.2.10");
    for (const char* client : { "127.0.0.1:50001", "127.0.0.1:50002", "192.0.2.77:61234" })
        addItem(列表框1, client);
    rosterWidget()->setCurrentRow(1);
    QCoreApplication::processEvents();

    QString path = QString::fromStdString(joinPath(programDirectory(), "console.png"));
    QFile::remove(path);
    ASSERT_TRUE(m_window->grab().save(path));
    QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size() / saved.devicePixelRatio(), m_window->size());
}

} // namespace
