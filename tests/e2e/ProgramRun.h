// The built program run as a command beside a room (`chatroom-server admin list`): standard
// output and error captured, the environment the test's own without a display and with the
// given variables, and, as root, the program run as another user (through setpriv). The wait
// for its end is bounded.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProgramOptions {
    std::string executable;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::optional<uid_t> user = std::nullopt; // its own group too, no supplementary groups
};

struct CommandResult {
    int status; // the exit status, or 128 + the signal that ended it
    std::string output;
    std::string error;
};

CommandResult runProgram(const ProgramOptions& options);
