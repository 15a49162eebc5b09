// What the in-process window tests share: loading the real console on a free port, pumping
// the window thread's event loop until something has happened (always within a bound), and
// acting on the administrator pop-up while its nested loop runs.
#pragma once

#include "console/ConsoleWindow.h"
#include "runtime/ProgramFrame.h"
#include "console/ControlOperations.h"
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

// The longest any wait for the window thread may take before the test gives up and fails.
constexpr int kWaitLimitMs = 15000;

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

// Waits, from inside whatever nested loop is running, for the administrator pop-up to be
// open and then acts on it once. If the pop-up is still open long after the action, or never
// opens, the driver closes what it can so that the test fails instead of hanging.
class PopupDriver {
public:
    explicit PopupDriver(std::function<void(QMenu*)> action)
        : m_action(std::move(action))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }
    ~PopupDriver() { m_timer.stop(); }
    PopupDriver(const PopupDriver&) = delete;
    PopupDriver& operator=(const PopupDriver&) = delete;

    bool acted() const { return m_acted; }
    // True when the driver had to close a pop-up that the action should have closed.
    bool forcedClose() const { return m_forcedClose; }
    bool finished() const { return m_acted && !openPopup(); }

private:
    void tick()
    {
        ++m_ticks;
        QMenu* menu = openPopup();
        if (!m_acted) {
            if (menu && menu->isVisible()) {
                m_acted = true;
                m_ticks = 0;
                m_action(menu);
            } else if (m_ticks > kWaitLimitMs / 10) {
                m_timer.stop();
            }
            return;
        }
        if (!menu) {
            m_timer.stop();
            return;
        }
        if (m_ticks > 500) {
            m_forcedClose = true;
            menu->close();
            m_timer.stop();
        }
    }

    std::function<void(QMenu*)> m_action;
    QTimer m_timer;
    int m_ticks = 0;
    bool m_acted = false;
    bool m_forcedClose = false;
};

// Closes an administrator pop-up that nobody closes: a change of the roster by the program
// that wrongly raised the selection event would otherwise leave the test waiting forever in
// the pop-up's loop.
class PopupWatchdog {
public:
    PopupWatchdog()
    {
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QMenu* menu = openPopup();
            m_openTicks = menu ? m_openTicks + 1 : 0;
            if (menu && m_openTicks > 2 * kWaitLimitMs / 100) {
                m_tripped = true;
                menu->close();
            }
        });
        m_timer.start();
    }
    PopupWatchdog(const PopupWatchdog&) = delete;
    PopupWatchdog& operator=(const PopupWatchdog&) = delete;

    bool tripped() const { return m_tripped; }

private:
    QTimer m_timer;
    int m_openTicks = 0;
    bool m_tripped = false;
};

inline QString utf8(const char8_t* text) { return QString::fromUtf8(reinterpret_cast<const char*>(text)); }

} // namespace console_test
