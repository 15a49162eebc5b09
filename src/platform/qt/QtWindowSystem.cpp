// The program frame's window system on Qt Widgets (see runtime/WindowSystem.h): the
// application object, offscreen when there is no display, and close requests by signal.
#include "runtime/WindowSystem.h"

#include "net/ReadinessWatcher.h"
#include "platform/posix/CloseSignals.h"
#include "runtime/ProgramFrame.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

namespace {

struct QtState {
    std::unique_ptr<QApplication> application;
    std::unique_ptr<CloseSignals> closeSignals;
};

QtState& state()
{
    static QtState qt;
    return qt;
}

bool hasDisplay()
{
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

// Qt's own remarks that say nothing to an administrator of a headless room (the offscreen
// platform cannot size windows; a missing runtime directory that Qt replaces by itself) are
// dropped; everything else reaches standard error as before.
QtMessageHandler s_previousMessageHandler = nullptr;

void filterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg
        && (message.contains(QLatin1String("propagateSizeHints")) || message.contains(QLatin1String("XDG_RUNTIME_DIR not set"))))
        return;
    if (s_previousMessageHandler)
        s_previousMessageHandler(type, context, message);
}

} // namespace

namespace platform {

void startWindowSystem(int argc, char** argv)
{
    QtState& qt = state();
    if (qt.application)
        return;
    // With no display the room runs headless on Qt's offscreen platform.
    if (!hasDisplay())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    s_previousMessageHandler = qInstallMessageHandler(filterQtMessages);
    // QApplication keeps a reference to argc: it must outlive the application.
    static int s_argc;
    s_argc = argc;
    qt.application = std::make_unique<QApplication>(s_argc, argv);
    // The frame decides when the loop ends (the last program window gone), not Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("chatroom-server"));
    raiseDescriptorLimit();
    qt.closeSignals = std::make_unique<CloseSignals>(windowThreadWatchers(), [] { requestProgramClose(); });
}

void runMessageLoop()
{
    if (state().application)
        QApplication::exec();
}

void quitMessageLoop() { QCoreApplication::quit(); }

void stopWindowSystem()
{
    QtState& qt = state();
    qt.closeSignals.reset();
    if (qt.application) {
        // Windows closed during the loop are deleted once control is back in it; do that now,
        // then take the application down while everything it refers to still exists.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qt.application.reset();
    }
}

bool isHeadless()
{
    if (!QGuiApplication::instance())
        return true;
    QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace platform
