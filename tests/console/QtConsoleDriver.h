// How the console tests drive the Qt console (see console/ConsoleFixture.h): the real console
// loaded with its server moved to a free port, the window a QWidget on the offscreen platform,
// the user's clicks and keys QTest's events, the pop-up a QMenu (the Qt side of
// PopupDriver.h), and the window thread's event loop pumped until something has happened,
// always within a bound.
#pragma once

#include "console/ConsoleFixture.h"
#include "console/PopupDriver.h"
#include "platform/qt/QtListBox.h"
#include "platform/qt/QtWindowView.h"

#include <QApplication>
#include <QImage>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace console_test {

// The console's Qt view, for tests that drive its real widgets.
inline QtWindowView* qtView()
{
    ConsoleWindow* window = console();
    return window ? static_cast<QtWindowView*>(&window->view()) : nullptr;
}
inline QWidget* consoleWidget() { return qtView() ? qtView()->widget() : nullptr; }
inline QtListBox* rosterWidget() { return qtView() ? qtView()->listBox(列表框1.unitId) : nullptr; }

// Runs the event loop until `done` holds or the bound passes; true when it held.
inline bool pumpUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitLimitMs); }

// The pop-up is the QMenu shown now, ticks come from a QTimer.
struct QtPopups {
    using Popup = QMenu*;
    static QMenu* open()
    {
        QMenu* menu = qtView() ? qtView()->openPopup() : nullptr;
        return menu && menu->isVisible() ? menu : nullptr;
    }
    static void close(QMenu* menu) { menu->close(); }

    class Timer {
    public:
        Timer(int periodMs, std::function<void()> tick)
        {
            m_timer.setInterval(periodMs);
            QObject::connect(&m_timer, &QTimer::timeout, std::move(tick));
            m_timer.start();
        }

    private:
        QTimer m_timer;
    };
};

inline QString utf8(const char8_t* text) { return QString::fromUtf8(reinterpret_cast<const char*>(text)); }

struct QtConsoleDriver {
    using Window = QWidget*;
    // A window that is closing: Qt deletes it later.
    using ClosingWindow = QPointer<QWidget>;
    using Popup = QMenu*;
    using PopupDriver = console_test::PopupDriver<QtPopups>;
    using PopupWatchdog = console_test::PopupWatchdog<QtPopups>;
    static constexpr const char* kName = "Qt";

    static int load() { return loadConsoleOnFreePort(); }
    // Closes the console if it is still loaded and lets Qt delete it, so the next test can load
    // it again in the same process.
    static void close()
    {
        if (ConsoleWindow* window = console())
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static Window window() { return consoleWidget(); }
    static void handlePending() { QCoreApplication::processEvents(); }
    static bool waitUntil(const std::function<bool()>& done) { return pumpUntil(done); }
    static bool popupOpen() { return (qtView() && qtView()->openPopup()) || QApplication::activePopupWidget() != nullptr; }

    static constexpr const char* kLineEnd = "\n";
    static std::string caption() { return window()->windowTitle().toStdString(); }
    static bool windowShown() { return window()->isVisible(); }
    static ScreenRect outerPlace() { return rectOf(window()->frameGeometry()); }
    static ScreenRect workArea() { return rectOf(window()->screen()->geometry()); }
    // A unit's control, in its parent's coordinates.
    static ScreenRect controlPlace(const UnitReference& unit) { return rectOf(control(unit)->geometry()); }
    static bool controlShown(const UnitReference& unit) { return control(unit)->isVisible(); }
    static std::string bannerText() { return banner()->toPlainText().toStdString(); }
    static std::vector<std::string> shownEntries()
    {
        std::vector<std::string> entries;
        QAbstractItemModel* model = rosterWidget()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            entries.push_back(model->index(row, 0).data().toString().toStdString());
        return entries;
    }
    // How far right the roster's entry at `index` is drawn: the last column, inside the row's
    // outline (where a focus frame goes), that differs from the row's background; -1 for none.
    static int inkExtent(int index)
    {
        QtListBox* list = rosterWidget();
        const QRect row = list->visualRect(list->model()->index(index, 0));
        const QImage picture = list->viewport()->grab(row).toImage();
        const QRgb background = picture.pixel(picture.width() - 2, picture.height() / 2);
        int extent = -1;
        for (int y = 1; y + 1 < picture.height(); ++y) {
            for (int x = 1; x + 1 < picture.width(); ++x) {
                if (picture.pixel(x, y) != background)
                    extent = std::max(extent, x);
            }
        }
        return extent;
    }
    // Every text a control of the window shows.
    static std::vector<std::string> shownTexts()
    {
        std::vector<std::string> texts;
        for (QTextEdit* box : window()->findChildren<QTextEdit*>())
            texts.push_back(box->toPlainText().toStdString());
        for (QLineEdit* box : window()->findChildren<QLineEdit*>())
            texts.push_back(box->isVisible() ? box->text().toStdString() : "");
        for (QLabel* label : window()->findChildren<QLabel*>())
            texts.push_back(label->isVisible() ? label->text().toStdString() : "");
        return texts;
    }

    // Puts the pointer over the window and says where it is.
    static ScreenPoint pointerOverWindow()
    {
        QCursor::setPos(window()->mapToGlobal(QPoint(100, 100)));
        return { QCursor::pos().x(), QCursor::pos().y() };
    }

    static std::vector<std::string> captions(Popup menu)
    {
        std::vector<std::string> texts;
        for (QAction* action : menu->actions())
            texts.push_back(action->text().toStdString());
        return texts;
    }
    static ScreenPoint placeOf(Popup menu) { return { menu->pos().x(), menu->pos().y() }; }
    static void pressEscape(Popup menu) { QTest::keyClick(menu, Qt::Key_Escape); }

    static void choose(Popup menu, int index, ChoiceWay way)
    {
        QAction* action = menu->actions().value(index);
        if (!action) {
            pressEscape(menu);
            return;
        }
        if (way == ChoiceWay::Keys) {
            for (int step = 0; step <= index; ++step)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
        QPoint centre = menu->actionGeometry(action).center();
        QTest::mouseMove(menu, centre);
        QTest::mouseClick(menu, way == ChoiceWay::RightButton ? Qt::RightButton : Qt::LeftButton, {}, centre);
    }

    // A user's click on the roster entry at `index`.
    static void clickEntry(int index)
    {
        QtListBox* list = rosterWidget();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(index, 0)).center());
    }

    // The roster, in the active window, has the keyboard's focus.
    static bool focusRoster()
    {
        if (!activate())
            return false;
        rosterWidget()->setFocus();
        handlePending();
        return true;
    }
    static void pressDownInRoster() { QTest::keyClick(rosterWidget(), Qt::Key_Down); }
    // The window's own command as the user gives it: a double click on the banner, which
    // shows no caption.
    static std::optional<std::string> chooseWindowCommand()
    {
        QTest::mouseDClick(banner()->viewport(), Qt::LeftButton);
        return std::nullopt;
    }
    // The entry the control shows selected, or -1.
    static int shownSelection()
    {
        const QModelIndexList selected = rosterWidget()->selectionModel()->selectedIndexes();
        return selected.isEmpty() ? -1 : selected.first().row();
    }
    // The program (not the user) selects an entry in the control, or none with -1.
    static void selectByProgram(int index)
    {
        if (index < 0)
            rosterWidget()->clearSelection();
        else
            rosterWidget()->setCurrentRow(index);
    }

    // The ways the user asks the window to close: Esc wherever the focus is.
    static std::vector<CloseRequest> closeRequests()
    {
        auto escIn = [](std::function<QWidget*()> target) {
            return [target] {
                ASSERT_TRUE(activate());
                target()->setFocus();
                handlePending();
                QTest::keyClick(target(), Qt::Key_Escape);
            };
        };
        return {
            { "Esc in the window", escIn([] { return window(); }) },
            { "Esc in the roster", escIn([] { return static_cast<QWidget*>(rosterWidget()); }) },
            { "Esc in the banner", escIn([] { return static_cast<QWidget*>(window()->findChildren<QTextEdit*>().front()); }) },
        };
    }
    // The user's Esc in the window, made the active one first; whether it became active.
    static bool pressEscapeInWindow()
    {
        bool active = activate();
        QTest::keyClick(window(), Qt::Key_Escape);
        return active;
    }
    // Qt closes at once, inside the key's event.
    static bool waitUntilClosed() { return console() == nullptr; }
    // A second close request on the closing window.
    static void requestCloseAgain(const ClosingWindow& closing)
    {
        if (closing)
            closing->close();
        if (console())
            console()->close();
    }
    static bool destroyed(const ClosingWindow& closing)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closing.isNull();
    }

private:
    static ScreenRect rectOf(const QRect& rect) { return { rect.x(), rect.y(), rect.width(), rect.height() }; }
    // The banner is the window's one text box; the marker store has no widget.
    static QTextEdit* banner() { return window()->findChildren<QTextEdit*>().front(); }
    static QWidget* control(const UnitReference& unit)
    {
        return unit.unitId == 列表框1.unitId ? static_cast<QWidget*>(rosterWidget()) : banner();
    }
    // Makes the console the active window, so that its keys reach it as the user's would.
    static bool activate()
    {
        window()->activateWindow();
        return QTest::qWaitForWindowActive(window(), kWaitLimitMs);
    }
};

} // namespace console_test
