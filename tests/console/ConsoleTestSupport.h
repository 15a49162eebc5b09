// What the in-process window tests share: loading the real console on a free port, pumping
// the window thread's event loop until something has happened (always within a bound), and
// the Qt side of the pop-up driver (PopupDriver.h).
#pragma once

#include "console/ConsoleWindow.h"
#include "runtime/ProgramFrame.h"
#include "console/ControlOperations.h"
#include "console/PopupDriver.h"
#include "console/UnitReference.h"
#include "net/TcpServer.h"
#include "platform/qt/QtListBox.h"
#include "platform/qt/QtWindowView.h"
#include "support/LocalPorts.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

namespace console_test {

using test_support::freeTcpPort;

inline ConsoleWindow* console() { return findLoadedWindow(kConsoleWindowId); }

// The console's Qt view, for tests that drive its real widgets.
inline QtWindowView* qtView()
{
    ConsoleWindow* window = console();
    return window ? static_cast<QtWindowView*>(&window->view()) : nullptr;
}
inline QWidget* consoleWidget() { return qtView() ? qtView()->widget() : nullptr; }
inline QMenu* openPopup() { return qtView() ? qtView()->openPopup() : nullptr; }

// Runs the event loop until `done` holds or the bound passes; true when it held.
inline bool pumpUntil(const std::function<bool()>& done, int limitMs = kWaitLimitMs)
{
    return QTest::qWaitFor(done, limitMs);
}

// Loads the console (its created event runs whatever handler table is registered) and moves
// its server component off the fixed port, so that tests never depend on 19730 being free.
// Returns the port the server now listens on, or 0 when the window could not be loaded.
inline int loadConsoleOnFreePort()
{
    if (!loadWindow(kConsoleWindowId))
        return 0;
    int port = freeTcpPort();
    serverComponent(服务器1).setPort(port);
    return serverComponent(服务器1).isListening() ? port : 0;
}

// Closes the console if it is still loaded and lets Qt delete it, so the next test can load
// it again in the same process.
inline void closeConsole()
{
    if (ConsoleWindow* window = console())
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline QtListBox* rosterWidget()
{
    return qtView() ? qtView()->listBox(列表框1.unitId) : nullptr;
}

// The Qt side of PopupDriver.h: the pop-up is the QMenu shown now, ticks come from a QTimer.
struct QtPopups {
    using Popup = QMenu*;
    static QMenu* open()
    {
        QMenu* menu = openPopup();
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

} // namespace console_test
