// The administrator's control command against the running room: `admin list` shows the roster
// in order, each action reaches its client exactly as the pop-up menu's item does, `admin
// close` dissolves the room, and the control socket refuses other users, bad requests and
// idle connections without disturbing the room; a socket left by a crashed room is replaced.
// (A second room of the same user, which finds the socket taken, needs a second network
// namespace for its port; it is left to the manual check.)
#include "ProgramRun.h"
#include "RoomTest.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

constexpr int kExitDone = 0, kExitMalformed = 2, kExitNoServer = 3, kExitNoSuchClient = 4, kExitRefused = 5;
constexpr uid_t kNobody = 65534;
// More than the room keeps at once.
constexpr int kSilentConnections = 20;
constexpr time_t kRawWaitSeconds = 10;

class Admin : public RoomTest {
protected:
    std::string socketPath() const { return runtimeDirectory() + "/chatroom-server/control.sock"; }

    CommandResult admin(std::vector<std::string> arguments, std::optional<uid_t> user = std::nullopt, std::string executable = {})
    {
        arguments.insert(arguments.begin(), "admin");
        return runProgram({ executable.empty() ? server().executable() : executable, arguments, { { "XDG_RUNTIME_DIR", runtimeDirectory() } }, user });
    }

    void expectRoster(const std::vector<LoopbackClient*>& clients)
    {
        std::string expected;
        for (LoopbackClient* client : clients)
            expected += client->address() + "\n";
        CommandResult list = admin({ "list" });
        EXPECT_EQ(list.status, kExitDone) << list.error;
        EXPECT_EQ(list.output, expected);
    }

    // A raw connection to the control socket, for what the command never sends.
    int connectRaw()
    {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        timeval wait { kRawWaitSeconds, 0 };
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        return fd;
    }

    // Everything the room sends until it closes; closes this end too.
    static std::string readToEnd(int fd)
    {
        std::string answer;
        char chunk[4096];
        for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;)
            answer.append(chunk, size_t(got));
        close(fd);
        return answer;
    }
};

TEST_F(Admin, ListShowsTheRosterInOrder)
{
    startServer();
    expectRoster({});
    LoopbackClient& a = connectClient();
    LoopbackClient& b = connectClient();
    LoopbackClient& c = connectClient();
    syncByPassingClient(false);
    expectRoster({ &a, &b, &c });

    std::string address = b.address();
    b.close();
    expectOthersReceive(b, leaveNotice(false, address));
    expectRoster({ &a, &c });
}

struct MenuAction {
    const char* verb;
    const std::string& body;
};
void PrintTo(const MenuAction& action, std::ostream* out) { *out << action.verb; }

class AdminAction : public Admin, public ::testing::WithParamInterface<MenuAction> { };

// First form, then (the entry marked) the continued form; nobody else hears a thing.
TEST_P(AdminAction, TheClientGetsTheMenuNotice)
{
    startServer();
    LoopbackClient& bystander = connectClient();
    LoopbackClient& target = connectClient();
    syncByPassingClient(false);

    for (const std::string& expected : { firstForm(kAdministrator, GetParam().body), continuedForm(kAdministrator, GetParam().body) }) {
        CommandResult done = admin({ GetParam().verb, target.address() });
        EXPECT_EQ(done.status, kExitDone) << done.error;
        expectReceives(target, expected);
    }
    syncByProbe(bystander);
    expectRoster({ &bystander, &target });
}

INSTANTIATE_TEST_SUITE_P(Verbs, AdminAction,
    ::testing::Values(MenuAction { "shake", kShakeBody }, MenuAction { "quake", kQuakeBody }, MenuAction { "reward", kRewardBody },
        MenuAction { "mute", kMuteBody }, MenuAction { "prank", kPrankBody }),
    [](const auto& info) { return std::string(info.param.verb); });

TEST_F(Admin, KickDisconnectsAndTellsTheOthers)
{
    startServer();
    LoopbackClient& a = connectClient();
    LoopbackClient& b = connectClient();
    LoopbackClient& c = connectClient();
    syncByProbe(a);

    std::string kicked = b.address();
    CommandResult done = admin({ "kick", kicked });
    EXPECT_EQ(done.status, kExitDone) << done.error;
    EXPECT_EQ(b.readToEnd(), continuedForm(kAdministrator, kKickBody));
    EXPECT_TRUE(b.hasEnded());
    b.close();
    expectAllReceive(leaveNotice(true, kicked));
    expectRoster({ &a, &c });

    CommandResult again = admin({ "kick", kicked });
    EXPECT_EQ(again.status, kExitNoSuchClient);
    EXPECT_EQ(std::count(again.error.begin(), again.error.end(), '\n'), 1) << again.error;
    syncByProbe(c);
}

TEST_F(Admin, CloseDissolvesTheRoom)
{
    startServer();
    connectClient();
    LoopbackClient& b = connectClient();
    syncByProbe(b);

    EXPECT_EQ(admin({ "close" }).status, kExitDone);
    expectAllReceive(dissolutionNotice(true));
    EXPECT_EQ(server().waitForExit(), 0) << server().standardError();
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(admin({ "list" }).status, kExitNoServer);
}

// Requests the command would never send are answered "malformed"; the room goes on.
TEST_F(Admin, MalformedRequestsAreRefused)
{
    startServer();
    LoopbackClient& a = connectClient();
    LoopbackClient& b = connectClient();
    syncByProbe(a);

    const std::vector<std::pair<std::string, bool>> requests = {
        { "bogus\n", false },
        { "\n", false },
        { "kick\n", false },
        { "list now\n", false },
        { "shake " + b.address() + "\xff\n", false },
        { std::string(1000, 'a'), false }, // too long: answered without waiting for the end
        { "list", true },                  // unterminated
    };
    for (const auto& [request, endSending] : requests) {
        int fd = connectRaw();
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        if (endSending)
            shutdown(fd, SHUT_WR);
        std::string answer = readToEnd(fd);
        EXPECT_EQ(answer.rfind("malformed ", 0), 0u) << "request " << request.substr(0, 40) << " answered " << answer;
        EXPECT_EQ(std::count(answer.begin(), answer.end(), '\n'), 1) << answer;
    }
    EXPECT_EQ(admin({ "bogus" }).status, kExitMalformed);
    EXPECT_EQ(admin({ "shake", "127.0.0.1:1" }).status, kExitNoSuchClient);
    syncByProbe(b);
    expectRoster({ &a, &b });
}

// Connections that never speak cannot shut the administrator out: the oldest go.
TEST_F(Admin, SilentConnectionsMakeWayForNewOnes)
{
    startServer();
    LoopbackClient& a = connectClient();
    std::vector<int> silent;
    for (int i = 0; i < kSilentConnections; ++i)
        silent.push_back(connectRaw());
    syncByPassingClient(false);
    expectRoster({ &a });
    EXPECT_EQ(readToEnd(silent.front()).rfind("unavailable ", 0), 0u);
    for (size_t i = 1; i < silent.size(); ++i)
        close(silent[i]);
    syncByProbe(a);
}

TEST_F(Admin, AnotherUserIsRefused)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "running the command as another user needs root and /usr/bin/setpriv";
    startServer();
    LoopbackClient& a = connectClient();
    syncByPassingClient(false);
    // A copy of the program that the other user may run.
    TempDirectory shared("chatroom-e2e-shared");
    std::string program = shared.path() + "/chatroom-server";
    std::filesystem::copy_file(server().executable(), program);
    chmod(shared.path().c_str(), 0755);
    chmod(program.c_str(), 0755);

    // The private directory keeps the other user away from the socket...
    EXPECT_EQ(admin({ "list" }, kNobody, program).status, kExitRefused);
    // ...and where it does not, the room itself refuses.
    chmod(runtimeDirectory().c_str(), 0711);
    chmod((runtimeDirectory() + "/chatroom-server").c_str(), 0711);
    chmod(socketPath().c_str(), 0666);
    CommandResult refused = admin({ "kick", a.address() }, kNobody, program);
    EXPECT_EQ(refused.status, kExitRefused) << refused.error;
    EXPECT_NE(refused.error.find("only the user who runs the room"), std::string::npos) << refused.error;
    syncByProbe(a);
    expectRoster({ &a });
}

TEST_F(Admin, StaleSocketOfACrashedRoomIsReplaced)
{
    startServer();
    killServer();
    struct stat left {};
    ASSERT_EQ(lstat(socketPath().c_str(), &left), 0) << "the crashed room left no socket to replace";
    EXPECT_TRUE(S_ISSOCK(left.st_mode));
    EXPECT_EQ(admin({ "list" }).status, kExitNoServer);

    restartServer();
    LoopbackClient& a = connectClient();
    syncByPassingClient(false);
    expectRoster({ &a });
}

} // namespace
