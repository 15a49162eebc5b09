// The built program run as a command beside a room (`chatroom-server admin list`): standard
// output and error captured, the environment the test's own without a display and with the
// given variables, and, as root, the program run as another user (through setpriv). The wait
// for its end is bounded. Also what that and the room's start (ServerProcess) share: the
// environment, starting a program with its output in files, waiting for its end.
#pragma once

#include <spawn.h>

#include <chrono>
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

// The bytes of the file at `path`; nothing when it cannot be read.
std::string readWholeFile(const std::string& path);
// The test's own environment without a display, `given` replacing or adding variables.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& given);
// Starts `words` (the program's path first) with `environment`, standard input from /dev/null
// and standard output and error appended to the files `outPath` and `errPath`; `attributes`
// may be null. Throws when the program cannot be started.
pid_t spawnProgram(std::vector<std::string> words, std::vector<std::string> environment, const std::string& outPath,
    const std::string& errPath, const posix_spawnattr_t* attributes = nullptr);
// The exit status in a status from waitpid, or 128 + the signal that ended the child.
int exitStatusOf(int waitStatus);
// Waits for the child `pid` to end, killing it once `limit` has passed; its exit status as
// above, or -1 when it cannot be waited for.
int waitForExit(pid_t pid, std::chrono::milliseconds limit);
