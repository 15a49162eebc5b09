// The program frame on Qt Widgets (see ProgramFrame.h).
#include "runtime/ProgramFrame.h"

#include "runtime/EventBlock.h"
#include "runtime/FatalError.h"
#include "runtime/Files.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

struct FrameState {
    int argc = 0;
    char** argv = nullptr;
    std::unique_ptr<QApplication> application;
    EndRoutine endRoutine = nullptr;
    bool loopEntered = false;
    int loadedWindows = 0;
    std::map<uint32_t, StartWindowLoader> windowLoaders;
    std::function<void()> closeRequestHandler;
    int signalPipe[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> signalNotifier;
};

FrameState& frame()
{
    static FrameState state;
    return state;
}

bool hasDisplay()
{
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

// Signal handlers only write one byte; the window thread reads it and acts.
void onCloseSignal(int signalNumber)
{
    int saved = errno;
    // A second request of the same kind is not asked nicely again: if the dissolution is
    // stuck on clients that take nothing, a second Ctrl+C ends the program at once.
    signal(signalNumber, SIG_DFL);
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(frame().signalPipe[1], &byte, 1);
    errno = saved;
}

void handleCloseRequest()
{
    char bytes[64];
    while (read(frame().signalPipe[0], bytes, sizeof bytes) > 0) { }
    if (frame().closeRequestHandler)
        frame().closeRequestHandler();
    else if (frame().loopEntered)
        QCoreApplication::quit();
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

void installCloseSignals()
{
    FrameState& state = frame();
    // Sends to clients say MSG_NOSIGNAL; this covers every other write, such as a line to a
    // standard error whose reader has gone, which must not end the room.
    signal(SIGPIPE, SIG_IGN);
    if (pipe2(state.signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    state.signalNotifier = std::make_unique<QSocketNotifier>(state.signalPipe[0], QSocketNotifier::Read);
    QObject::connect(state.signalNotifier.get(), &QSocketNotifier::activated, [] { handleCloseRequest(); });
    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signalNumber, &action, nullptr);
}

} // namespace

int startProgram(int argc, char** argv, ApplicationEntry entry)
{
    linkAllocationFailureOperators();
    frame().argc = argc;
    frame().argv = argv;
    int exitCode = entry();
    endProgram(exitCode);
    // Windows closed during the loop are deleted once control is back in it; do that now,
    // then take the application down while everything it refers to still exists.
    if (frame().application) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        frame().application.reset();
    }
    return exitCode;
}

void initRuntime()
{
    FrameState& state = frame();
    if (state.application)
        return;
    // With no display the room runs headless on Qt's offscreen platform.
    if (!hasDisplay())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (state.argv == nullptr) {
        static char name[] = "chatroom-server";
        static char* defaultArgv[] = { name, nullptr };
        state.argc = 1;
        state.argv = defaultArgv;
    }
    s_previousMessageHandler = qInstallMessageHandler(filterQtMessages);
    state.application = std::make_unique<QApplication>(state.argc, state.argv);
    // The frame decides when the loop ends (the last program window gone), not Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("chatroom-server"));
    // Every client holds a descriptor: allow as many as the system lets this process have.
    rlimit descriptors {};
    if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur < descriptors.rlim_max) {
        descriptors.rlim_cur = descriptors.rlim_max;
        setrlimit(RLIMIT_NOFILE, &descriptors);
    }
    // Relative paths mean the program's directory.
    std::string directory = programDirectory();
    if (!directory.empty() && chdir(directory.c_str()) != 0)
        std::fprintf(stderr, "chatroom-server: cannot change to the program directory %s\n", directory.c_str());
    installCloseSignals();
}

void registerEndRoutine(EndRoutine routine) { frame().endRoutine = routine; }
void forgetEndRoutine() { frame().endRoutine = nullptr; }

void registerStartWindow(uint32_t windowId, StartWindowLoader loader)
{
    frame().windowLoaders[windowId] = loader;
}

void loadStartWindow(uint32_t windowId)
{
    auto found = frame().windowLoaders.find(windowId);
    if (found == frame().windowLoaders.end() || !found->second())
        fatalError(0, "载入启动窗口失败");
}

void runMessageLoop()
{
    FrameState& state = frame();
    state.loopEntered = true;
    if (state.loadedWindows == 0 || !state.application)
        return;
    QApplication::exec();
}

void endProgram(int32_t)
{
    FrameState& state = frame();
    raiseEventBlock();
    if (EndRoutine routine = state.endRoutine) {
        state.endRoutine = nullptr;
        routine();
    }
    state.closeRequestHandler = nullptr;
    state.signalNotifier.reset();
}

void noteWindowLoaded() { ++frame().loadedWindows; }

void noteWindowDestroyed()
{
    FrameState& state = frame();
    if (state.loadedWindows > 0)
        --state.loadedWindows;
    if (state.loadedWindows == 0 && state.loopEntered)
        QCoreApplication::quit();
}

void setCloseRequestHandler(std::function<void()> handler)
{
    frame().closeRequestHandler = std::move(handler);
}

bool isHeadless()
{
    if (!QGuiApplication::instance())
        return true;
    QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}
