// The program's entry point: wires the console module into the program frame and hands
// control to the frame, which runs the chat room service's entry. Where the room can run
// without a window (POSIX systems), the command line also offers the administrator's control
// commands, and the room serves them on a control socket for as long as it runs.
#include "app/ApplicationEntry.h"
#include "console/ConsoleModule.h"
#include "runtime/ProgramFrame.h"

#if !defined(_WIN32)
#include "app/AdminProtocol.h"
#include "app/AdminRequests.h"
#include "app/CommandLine.h"
#include "app/RoomOptions.h"
#include "net/ReadinessWatcher.h"
#include "platform/posix/ControlClient.h"
#include "platform/posix/ControlEndpoint.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The room, with its control socket open from the window system's start until the console
// has closed.
int roomWithControlSocket(const RoomOptions& options)
{
    initRuntime();
    ControlEndpoint endpoint(windowThreadWatchers(), { answerAdminRequest, answerForProblem });
    return applicationEntry(options);
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
    registerConsoleModule();
    return startProgram(argc, argv, [&options] { return roomWithControlSocket(options); });
}

#else

int main(int argc, char** argv)
{
    registerConsoleModule();
    return startProgram(argc, argv, applicationEntry);
}

#endif
