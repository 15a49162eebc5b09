// The POSIX program's entry point and composition root: it makes the backend's objects (the
// value store, the files, the window thread's readiness watchers and the window system on
// them, the windows' view factory), hands them to the service, the console and the program
// frame, and hands control to the frame, which runs the chat room service's entry. With a
// display that is Qt; headless (no display, the user service, the benchmark) it is a plain
// loop on the epoll set, with no toolkit between a socket's readiness and its handler. The
// command line also offers the administrator's control commands, and the room serves them on
// a control socket for as long as it runs.
#include "admin/AdminProtocol.h"
#include "admin/AdminRequests.h"
#include "admin/CommandLine.h"
#include "app/ApplicationEntry.h"
#include "app/RoomOptions.h"
#include "console/ConsoleModule.h"
#include "platform/posix/ControlClient.h"
#include "platform/headless/HeadlessWindowSystem.h"
#include "platform/headless/HeadlessWindowView.h"
#include "platform/posix/ControlEndpoint.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixValueStore.h"
#include "platform/qt/DisplayProbe.h"
#include "platform/qt/QtReadinessWatchers.h"
#include "platform/qt/QtWindowView.h"
#include "platform/qt/QtWindowSystem.h"
#include "runtime/ProgramFrame.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The room, with its control socket open from the window system's start until the console has
// closed.
int runRoom(int argc, char** argv, const RoomOptions& options, ReadinessWatcherFactory& watchers, WindowSystem& windowSystem, WindowViewFactory views)
{
    PosixValueStore valueStore;
    PosixFiles files;
    registerConsoleModule(watchers, std::move(views));
    return startProgram(argc, argv, windowSystem, files, [&watchers, &options, &valueStore, &files] {
        initRuntime();
        ControlEndpoint endpoint(watchers, { answerAdminRequest, answerForProblem });
        return applicationEntry(options, valueStore, files);
    });
}

// A display that is named but cannot be opened (a stale ssh -X session, an empty DISPLAY, a
// compositor that has gone) would make Qt abort at start; the room runs headless instead and
// says why. When only one of an X and a Wayland display opens, Qt is pointed at that one.
void settleDisplay()
{
    if (runsHeadless())
        return;
    DisplayChoice display = chooseDisplay();
    if (display.usable()) {
        if (!display.platform.empty())
            setenv("QT_QPA_PLATFORM", display.platform.c_str(), 1);
        return;
    }
    std::fprintf(stderr, "chatroom-server: %s; running without a window\n", display.problem.c_str());
    std::fflush(stderr);
    // Also what Qt runs on should the headless loop not start.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (std::optional<CommandOutcome> command = runCommandLine(arguments, posixControlTransport())) {
        std::fputs(command->standardOutput.c_str(), stdout);
        std::fputs(command->standardError.c_str(), stderr);
        return command->exitStatus;
    }
    // The command line has checked the options already.
    std::string problem;
    RoomOptions options = parseRoomOptions(arguments, problem).value_or(RoomOptions {});
    settleDisplay();
    if (runsHeadless()) {
        // Without an epoll set (no descriptor left at start) Qt's offscreen platform serves.
        EpollWatchers watchers;
        if (watchers.valid()) {
            HeadlessWindowSystem windowSystem(watchers);
            return runRoom(argc, argv, options, watchers, windowSystem, [&windowSystem](const WindowDescription&, WindowViewEvents&) {
                return std::make_unique<HeadlessWindowView>(windowSystem.loop());
            });
        }
    }
    QtReadinessWatcherFactory watchers;
    QtWindowSystem windowSystem(watchers);
    return runRoom(argc, argv, options, watchers, windowSystem, createQtWindowView);
}
