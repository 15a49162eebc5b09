// Starting, watching and closing the built program (see ServerProcess.h).
//
// Readiness is read from /proc rather than probed with a connection: a probe would be a
// client of its own, entering the roster and leaving it again, and its leave notice could
// reach the test's first clients. The listening socket also has to be this child's, not a
// server somebody else left running on the fixed port (under Wine: one that the prefix's Wine
// server holds, as it owns the sockets of its programs).
#include "ServerProcess.h"

#include "ProgramRun.h"
#include "WineTarget.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPortFreeWait = std::chrono::seconds(60);
constexpr auto kStartWait = std::chrono::seconds(20);
// The close request sends one notice per client with a wait of up to a second each.
constexpr auto kExitWait = std::chrono::seconds(30);
constexpr auto kPollInterval = std::chrono::milliseconds(20);
// Wine's debug channels for the program: its message boxes' texts and nothing else.
constexpr const char* kWineDebugChannels = "-all,trace+msgbox";
constexpr const char* kWindowsProgramName = "chatroom-server.exe";

// The configuration home of the last start under Wine: the prefix's registry holds its store.
std::string g_registryHome;

// The inodes of the sockets that listen on `port`, on any IPv4 or IPv6 address.
std::set<unsigned long> listeningSocketInodes(uint16_t port)
{
    std::set<unsigned long> inodes;
    for (const char* table : { "/proc/net/tcp", "/proc/net/tcp6" }) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column titles
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
                continue;
            size_t colon = local.rfind(':');
            if (colon == std::string::npos || state != "0A")
                continue;
            if (std::stoul(local.substr(colon + 1), nullptr, 16) == port)
                inodes.insert(inode);
        }
    }
    return inodes;
}

bool processHoldsSocket(pid_t pid, const std::set<unsigned long>& inodes)
{
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
    if (error)
        return false;
    for (const auto& fd : fds) {
        std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (error || target.rfind("socket:[", 0) != 0)
            continue;
        if (inodes.count(std::stoul(target.substr(8))))
            return true;
    }
    return false;
}

// The message box trace, and after it whatever channels the test's own WINEDEBUG asks for
// (+winsock, say, to see the program's socket calls in its standard error).
std::string wineDebugChannels()
{
    const char* asked = std::getenv("WINEDEBUG");
    return std::string(kWineDebugChannels) + (asked && *asked ? std::string(",") + asked : std::string());
}

// The prefix's Wine server, found among all processes; -1 when none runs.
pid_t prefixServer(const WineTarget& target)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(name));
        if (target.isPrefixServer(pid))
            return pid;
    }
    return -1;
}

} // namespace

ServerProcess::ServerProcess(const std::optional<std::string>& replyIni, std::string configHome)
    : m_configHome(std::move(configHome))
{
    namespace fs = std::filesystem;
    const std::optional<WineTarget>& wine = wineTarget();
    m_executable = m_programDirectory.path() + "/" + (wine ? kWindowsProgramName : "chatroom-server");
    fs::copy_file(wine ? wine->executable : CHATROOM_SERVER_PATH, m_executable);
    fs::permissions(m_executable, fs::perms::owner_all, fs::perm_options::add);
    if (replyIni) {
        std::ofstream out(m_programDirectory.path() + "/reply.ini", std::ios::binary);
        out.write(replyIni->data(), static_cast<std::streamsize>(replyIni->size()));
        if (!out)
            throw std::runtime_error("cannot write reply.ini");
    }
    // Kept outside the program directory so that nothing but the program and its library
    // sits beside it.
    m_stderrPath = m_programDirectory.path() + ".stderr";
    m_stdoutPath = m_programDirectory.path() + ".stdout";
}

ServerProcess::~ServerProcess()
{
    if (isRunning())
        stop();
    std::remove(m_stderrPath.c_str());
    std::remove(m_stdoutPath.c_str());
}

void ServerProcess::start()
{
    if (isRunning())
        throw std::logic_error("the server is already running");

    // Other developers' servers come and go on the fixed port. A server that starts while
    // another one listens cannot listen itself and ends, so it is started again once the port
    // is free, within one overall bound.
    auto deadline = Clock::now() + kPortFreeWait;
    for (;;) {
        while (!listeningSocketInodes(kPort).empty()) {
            if (Clock::now() > deadline)
                throw std::runtime_error("port 19730 stayed busy: another server is listening on it");
            std::this_thread::sleep_for(kPollInterval);
        }
        if (spawnAndAwaitListening())
            return;
        if (Clock::now() > deadline)
            throw std::runtime_error("port 19730 stayed busy: another server is listening on it");
    }
}

void ServerProcess::spawn()
{
    const std::optional<WineTarget>& wine = wineTarget();
    if (wine && m_configHome != g_registryHome) {
        wine->clearRoomRegistry();
        g_registryHome = m_configHome;
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The test's own environment with the configuration home and runtime directory replaced
    // and the display taken away, so that the program runs offscreen and its message boxes
    // print to standard error; the suite's variables replace or add further ones.
    std::map<std::string, std::string> environment {
        { "XDG_CONFIG_HOME", m_configHome }, { "XDG_RUNTIME_DIR", m_runtimeDirectory.path() }, { "QT_QPA_PLATFORM", "offscreen" }
    };
    for (const auto& [name, value] : m_extraEnvironment)
        environment[name] = value;
    if (wine)
        environment.try_emplace("WINEDEBUG", wineDebugChannels());
    std::vector<std::string> words = wine ? wine->commandLine(m_executable, m_arguments) : std::vector<std::string> { m_executable };
    if (!wine)
        words.insert(words.end(), m_arguments.begin(), m_arguments.end());
    pid_t pid = spawnProgram(std::move(words), environmentWith(environment), m_stdoutPath, m_stderrPath, &attributes);
    posix_spawnattr_destroy(&attributes);
    m_pid = pid;

    // posix_spawn has no way to set a limit in the child, so it is set from outside at once,
    // while the program is still starting up and long before it can take a client. The limit
    // is on descriptor numbers, so the few it may have opened by then change nothing.
    if (m_descriptorLimit) {
        rlimit limit { *m_descriptorLimit, *m_descriptorLimit };
        if (prlimit(pid, RLIMIT_NOFILE, &limit, nullptr) != 0) {
            int failure = errno;
            killAbruptly();
            throw std::runtime_error(std::string("cannot limit the server's descriptors: ") + std::strerror(failure));
        }
    }
}

bool ServerProcess::spawnAndAwaitListening()
{
    spawn();
    auto deadline = Clock::now() + kStartWait;
    for (;;) {
        int waitStatus = 0;
        if (waitpid(m_pid, &waitStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            if (exitStatusOf(waitStatus) == kCannotListenStatus && !listeningSocketInodes(kPort).empty())
                return false;
            throw std::runtime_error("the server ended while starting, status " + std::to_string(exitStatusOf(waitStatus))
                + "; standard error:\n" + standardError());
        }
        std::set<unsigned long> listeners = listeningSocketInodes(kPort);
        bool ours = holdsListener(listeners);
        // The web entrance opens just after the room's port: a test may join through it at once.
        if (ours && (!m_webPort || holdsListener(listeningSocketInodes(*m_webPort))))
            return true;
        if (!ours && !listeners.empty()) {
            // Somebody else's: this one will never listen.
            stop();
            return false;
        }
        if (Clock::now() > deadline) {
            int status = stop();
            throw std::runtime_error("the server did not listen on port 19730 in time (status "
                + std::to_string(status) + "); standard error:\n" + standardError());
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool ServerProcess::holdsListener(const std::set<unsigned long>& listeners) const
{
    if (listeners.empty())
        return false;
    if (processHoldsSocket(m_pid, listeners))
        return true;
    const std::optional<WineTarget>& wine = wineTarget();
    if (!wine)
        return false;
    pid_t server = prefixServer(*wine);
    return server > 0 && processHoldsSocket(server, listeners);
}

bool ServerProcess::hasEnded() const
{
    // Looks without reaping, which stays waitForExit's.
    siginfo_t info {};
    return waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == m_pid;
}

void ServerProcess::requestClose()
{
    if (!isRunning())
        return;
    const std::optional<WineTarget>& wine = wineTarget();
    if (!wine) {
        kill(m_pid, SIGTERM);
        return;
    }
    // taskkill fails while the program has no window yet, early in its start.
    auto deadline = Clock::now() + kStartWait;
    while (wine->runTool("taskkill", { "/IM", kWindowsProgramName }) != 0 && !hasEnded() && Clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
}

int ServerProcess::killAbruptly()
{
    if (!isRunning())
        return -1;
    kill(m_pid, SIGKILL);
    int waitStatus = 0;
    while (waitpid(m_pid, &waitStatus, 0) < 0 && errno == EINTR) { }
    m_pid = -1;
    return exitStatusOf(waitStatus);
}

int ServerProcess::waitForExit()
{
    if (!isRunning())
        return -1;
    int status = ::waitForExit(m_pid, kExitWait);
    m_pid = -1;
    return status;
}

std::string ServerProcess::standardError() const
{
    return readWholeFile(m_stderrPath);
}

std::string ServerProcess::standardOutput() const
{
    return readWholeFile(m_stdoutPath);
}

bool ServerProcess::toldAdministrator(std::string_view caption, std::string_view text) const
{
    if (!wineTarget()) {
        std::string line = std::string(caption) + " " + std::string(text) + "\n";
        return standardError().find(line) != std::string::npos;
    }
    for (const std::string& shown : tracedMessageBoxTexts(standardError())) {
        if (shown == text)
            return true;
    }
    return false;
}

std::string ServerProcess::runtimeDirectory() const
{
    auto given = m_extraEnvironment.find("XDG_RUNTIME_DIR");
    return given == m_extraEnvironment.end() ? m_runtimeDirectory.path() : given->second;
}
