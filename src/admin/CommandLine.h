// The program's command line on systems where the room can run without a window: no
// arguments, or only the room's options (RoomOptions.h), run the room; `--help` lists what the
// program takes; `admin REQUEST` hands one request to the room of the same user that is
// already running and prints the answer. How the request reaches that room is the platform's
// (a Unix domain socket on Linux), passed in.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What became of one request sent to the running room.
struct ControlExchange {
    enum class Outcome {
        Answered, // `answer` holds everything the room sent back
        NoServer, // no room of this user is running
        Refused,  // the endpoint may not be used by this user
        Failed,   // anything else: no answer in time, a broken connection
    };
    Outcome outcome = Outcome::Failed;
    std::string answer;
    std::string detail; // for the administrator, one line: what happened and where
};

struct ControlTransport {
    std::function<ControlExchange(std::string_view requestLine)> exchange;
    // Where the endpoint is, for the help text.
    std::string endpointDescription;
};

struct CommandOutcome {
    int exitStatus = 0;
    std::string standardOutput; // UTF-8
    std::string standardError;  // UTF-8, one line
};

// Nothing when the arguments (those after the program's name) ask for the room itself, with
// well-formed options.
std::optional<CommandOutcome> runCommandLine(const std::vector<std::string_view>& arguments, const ControlTransport& transport);
