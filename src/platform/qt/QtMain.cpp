// The Linux program's entry point and composition root, the Qt window system over the POSIX
// backend: it makes the backend's objects (the window thread's readiness watchers and the Qt
// window system on them), hands them to the console and the program frame, and hands control
// to the frame, which runs the chat room service's entry. The command line also offers the
// administrator's control commands, and the room serves them on a control socket for as long
// as it runs.
#include "admin/AdminProtocol.h"
#include "admin/AdminRequests.h"
#include "app/ApplicationEntry.h"
#include "admin/CommandLine.h"
#include "console/ConsoleModule.h"
#include "platform/posix/ControlClient.h"
#include "platform/posix/ControlEndpoint.h"
#include "platform/qt/QtReadinessWatchers.h"
#include "platform/qt/QtWindowSystem.h"
#include "runtime/ProgramFrame.h"

#include <cstdio>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (std::optional<CommandOutcome> command = runCommandLine(arguments, posixControlTransport())) {
        std::fputs(command->standardOutput.c_str(), stdout);
        std::fputs(command->standardError.c_str(), stderr);
        return command->exitStatus;
    }
    QtReadinessWatcherFactory watchers;
    QtWindowSystem windowSystem(watchers);
    registerConsoleModule(watchers);
    // The room, with its control socket open from the window system's start until the console
    // has closed.
    return startProgram(argc, argv, windowSystem, [&watchers] {
        initRuntime();
        ControlEndpoint endpoint(watchers, { answerAdminRequest, answerForProblem });
        return applicationEntry();
    });
}
