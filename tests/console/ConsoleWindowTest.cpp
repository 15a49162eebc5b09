// The console window on Qt, where Qt's own properties say it: a fixed frame with the title
// bar's buttons and no menu bar, the roster a single-selection view straight of its model, the
// banner the one text box, read-only, borderless and centred, and screenshots saved beside
// the test binary for a person to look at, without and with members' names. What every window system shares is in
// ConsoleLayoutTest.cpp.
#include "console/QtConsoleDriver.h"
#include "platform/posix/PosixFiles.h"

#include <QImage>
#include <QMenuBar>
#include <QPixmap>
#include <QTextEdit>

namespace {

using namespace console_test;

using ConsoleWindowLayout = LoadedConsole<QtConsoleDriver>;

TEST_F(ConsoleWindowLayout, TitleBarAndFixedFrame)
{
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

TEST_F(ConsoleWindowLayout, RosterIsASingleSelectionViewOfItsModel)
{
    QtListBox* list = rosterWidget();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    // The entries are shown straight from their model, in the order added: no sorting proxy.
    EXPECT_NE(dynamic_cast<ListBoxItems*>(list->model()), nullptr);
}

TEST_F(ConsoleWindowLayout, BannerBoxIsTheOnlyTextBoxReadOnlyBorderlessAndCentred)
{
    QList<QTextEdit*> boxes = m_window->findChildren<QTextEdit*>();
    ASSERT_EQ(boxes.size(), 1);
    QTextEdit* banner = boxes.front();
    EXPECT_TRUE(banner->isReadOnly());
    EXPECT_EQ(banner->frameShape(), QFrame::NoFrame);
    EXPECT_TRUE(banner->document()->defaultTextOption().alignment().testFlag(Qt::AlignHCenter));
}

TEST_F(ConsoleWindowLayout, ScreenshotForAPerson)
{
    setContent(编辑框2, "本机名称：chatroom-host\r\n本机IP：192.0.2.10");
    for (const char* client : { "127.0.0.1:50001", "127.0.0.1:50002", "192.0.2.77:61234" })
        addItem(列表框1, client);
    rosterWidget()->setCurrentRow(1);
    QCoreApplication::processEvents();

    PosixFiles files;
    auto save = [&](const char* name) {
        QString path = QString::fromStdString(files.joinPath(files.programDirectory(), name));
        QFile::remove(path);
        ASSERT_TRUE(m_window->grab().save(path));
        QImage saved(path);
        ASSERT_FALSE(saved.isNull());
        EXPECT_EQ(saved.size() / saved.devicePixelRatio(), m_window->size());
    };
    save("console.png");
    // Two members named by the messages they sent, one (a terminal) without a name.
    setItemDecoration(列表框1, 0, "小明");
    setItemDecoration(列表框1, 1, "Amy");
    QCoreApplication::processEvents();
    save("console-names.png");
}

} // namespace
