// The display going away under a running console (its X server ends, the session logs out):
// the room is dissolved as by the close button, every client told, and the program ends with
// status 0, also while a message box waits on the console. The console runs on an Xvfb of
// the test's own, on a display number Xvfb finds free, which the test then ends by its
// process id.
#include "ProgramRun.h"
#include "RoomTexts.h"
#include "ServerProcess.h"
#include "support/LocalPorts.h"
#include "support/LoopbackClient.h"
#include "support/NoticeTexts.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace test_support;

constexpr auto kDisplayStartWait = std::chrono::seconds(20);
constexpr auto kDisplayEndWait = std::chrono::seconds(10);
// Xvfb writes the display number it chose to this descriptor.
constexpr int kDisplayNumberDescriptor = 3;

std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

// An Xvfb on a display number it finds free; ended (by its process id) when destroyed.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& xvfb)
    {
        int numberPipe[2];
        if (pipe2(numberPipe, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, numberPipe[1], kDisplayNumberDescriptor);
        std::string descriptor = std::to_string(kDisplayNumberDescriptor);
        const char* argv[] = { xvfb.c_str(), "-displayfd", descriptor.c_str(), "-nolisten", "tcp", "-screen", "0", "1024x768x24", nullptr };
        if (posix_spawn(&m_pid, xvfb.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(numberPipe[1]);
        readNumber(numberPipe[0]);
        close(numberPipe[0]);
    }
    ~VirtualDisplay() { end(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when Xvfb did not come up.
    const std::string& name() const { return m_name; }

    // Ends the X server, as a session's end does, and waits for it to be gone.
    void end()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        waitForExit(m_pid, std::chrono::duration_cast<std::chrono::milliseconds>(kDisplayEndWait));
        m_pid = -1;
    }

private:
    // The number ends with a line feed once the server accepts connections.
    void readNumber(int fd)
    {
        std::string number;
        auto deadline = std::chrono::steady_clock::now() + kDisplayStartWait;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready { fd, POLLIN, 0 };
            if (poll(&ready, 1, 100) <= 0)
                continue;
            char byte = 0;
            if (read(fd, &byte, 1) != 1)
                break;
            if (byte == '\n') {
                m_name = ":" + number;
                return;
            }
            number += byte;
        }
    }

    pid_t m_pid = -1;
    std::string m_name;
};

// With nothing open on the console, and with a message box open: the warning that the web
// entrance's port is taken, shown while the room already runs for TCP clients. The handler
// that waits in that box never resumes, and the room is dissolved under it all the same.
TEST(DisplayLoss, TheXServerEndingDissolvesTheRoom)
{
    std::string xvfb = findOnPath("Xvfb");
    if (xvfb.empty())
        GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    PortHolder takenPort;
    const struct {
        const char* what;
        std::vector<std::string> arguments;
    } cases[] = {
        { "nothing open", {} },
        { "a message box open", { "--web-port", std::to_string(takenPort.port()) } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualDisplay display(xvfb);
        ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";

        TempDirectory configHome("chatroom-e2e-config");
        ServerProcess server(testWordLibrary(), configHome.path());
        server.setEnvironmentVariable("DISPLAY", display.name());
        // Empty, as unset: Qt opens the X display.
        server.setEnvironmentVariable("QT_QPA_PLATFORM", "");
        if (!c.arguments.empty())
            server.setArguments(c.arguments, std::nullopt);
        server.start();
        LoopbackClient client(ServerProcess::kPort);
        client.send("~probe~");
        ASSERT_EQ(client.readExactly(7), "~probe~");
        // With a window the start is shown in the console, not printed.
        EXPECT_EQ(server.standardOutput(), "");

        display.end();
        EXPECT_EQ(client.readToEnd(), dissolutionNotice(true));
        EXPECT_TRUE(client.hasEnded());
        EXPECT_EQ(server.waitForExit(), 0) << server.standardError();
        EXPECT_NE(server.standardError().find("chatroom-server: the display " + display.name() + " has gone"), std::string::npos)
            << server.standardError();
    }
}

} // namespace
