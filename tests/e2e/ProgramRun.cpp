// Running the program as a command, and what every start of it shares (see ProgramRun.h).
#include "ProgramRun.h"

#include "support/TempDirectory.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A command answers at once; one that takes this long is stuck.
constexpr auto kRunWait = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::vector<std::string> commandLine(const ProgramOptions& options)
{
    std::vector<std::string> words;
    if (options.user) {
        std::string id = std::to_string(*options.user);
        words = { "/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups" };
    }
    words.push_back(options.executable);
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    return words;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> list;
    for (std::string& text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& given)
{
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view variable(*entry);
        std::string name(variable.substr(0, variable.find('=')));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && !given.count(name))
            variables.emplace_back(variable);
    }
    for (const auto& [name, value] : given)
        variables.push_back(name + "=" + value);
    return variables;
}

pid_t spawnProgram(std::vector<std::string> words, std::vector<std::string> environment, const std::string& outPath,
    const std::string& errPath, const posix_spawnattr_t* attributes)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    int error = posix_spawn(&pid, words.front().c_str(), &actions, attributes, pointers(words).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(error));
    return pid;
}

int exitStatusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

int waitForExit(pid_t pid, std::chrono::milliseconds limit)
{
    int waitStatus = 0;
    auto deadline = Clock::now() + limit;
    for (;;) {
        pid_t ended = waitpid(pid, &waitStatus, WNOHANG);
        if (ended == pid)
            return exitStatusOf(waitStatus);
        if (ended < 0 && errno != EINTR)
            return -1;
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) { }
            return exitStatusOf(waitStatus);
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

CommandResult runProgram(const ProgramOptions& options)
{
    test_support::TempDirectory outputs("chatroom-e2e-run");
    std::string outPath = outputs.path() + "/out";
    std::string errPath = outputs.path() + "/err";
    int status = waitForExit(spawnProgram(commandLine(options), environmentWith(options.environment), outPath, errPath), kRunWait);
    return { status, readWholeFile(outPath), readWholeFile(errPath) };
}
