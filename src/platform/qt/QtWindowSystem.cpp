// The program frame's window system on Qt Widgets (see QtWindowSystem.h).
#include "platform/qt/QtWindowSystem.h"

#include "platform/posix/CloseSignals.h"
#include "platform/qt/XDisplayLoss.h"
#include "runtime/ProgramFrame.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

namespace {

bool hasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || (platform && *platform);
}

// Qt's own remarks that say nothing to an administrator of a room on the offscreen platform
// (it cannot size windows; a missing runtime directory that Qt replaces by itself) are
// dropped; everything else reaches standard error as before. Qt warns, too, just before it
// ends the process for a broken X connection: the room is closed first (XDisplayLoss.h). Qt's
// message handler is one per process, a plain function: the handler it replaced is kept
// beside it.
QtMessageHandler s_previousMessageHandler = nullptr;

void filterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    endIfXDisplayLost();
    if (type != QtFatalMsg
        && (message.contains(QLatin1String("propagateSizeHints")) || message.contains(QLatin1String("XDG_RUNTIME_DIR not set"))))
        return;
    if (s_previousMessageHandler)
        s_previousMessageHandler(type, context, message);
}

} // namespace

QtWindowSystem::QtWindowSystem(ReadinessWatcherFactory& watchers)
    : m_watchers(watchers)
{
}

QtWindowSystem::~QtWindowSystem()
{
    stop();
}

void QtWindowSystem::start(int argc, char** argv)
{
    if (m_application)
        return;
    // A room without a display normally runs on the headless backend (platform/headless), not
    // on Qt; it comes here only when that cannot start (no epoll set), and then runs on Qt's
    // offscreen platform. Tests without a display run here on offscreen too.
    if (!hasDisplay())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    s_previousMessageHandler = qInstallMessageHandler(filterQtMessages);
    m_argc = argc;
    m_application = std::make_unique<QApplication>(m_argc, argv);
    // The frame decides when the loop ends (the last program window gone), not Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("chatroom-server"));
    watchXDisplay();
    raiseDescriptorLimit();
    m_closeSignals = std::make_unique<CloseSignals>(m_watchers, [] { requestProgramClose(); });
}

void QtWindowSystem::runMessageLoop()
{
    if (!m_application)
        return;
    guardExitForLostXDisplay();
    QApplication::exec();
}

void QtWindowSystem::quitMessageLoop() { QCoreApplication::quit(); }

void QtWindowSystem::stop()
{
    m_closeSignals.reset();
    forgetXDisplay();
    if (m_application) {
        // Windows closed during the loop are deleted once control is back in it; do that now,
        // then take the application down while everything it refers to still exists.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_application.reset();
    }
}

bool QtWindowSystem::isHeadless() const
{
    if (!QGuiApplication::instance())
        return true;
    QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}
