// The administrator's control command against the running room: `admin list` shows the roster
// in order, each action reaches its client exactly as the pop-up menu's item does, `admin
// close` dissolves the room, and the control socket refuses other users, bad requests and
// idle connections without disturbing the room; a socket left by a crashed room is replaced;
// the command believes no room planted by another user.
// (A second room of the same user, which finds the socket taken, needs a second network
// namespace for its port; it is left to the manual check.)
#include "ProgramRun.h"
#include "RoomTest.h"

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
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

    // A room forged by another user: a child process that binds `path`, then, as kNobody,
    // listens there and answers every request with a roster of its own making. Killed by the
    // caller (the returned pid).
    static pid_t forgeRoom(const std::string& path)
    {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            static const char forged[] = "client 6.6.6.6:666\nok 1 on the roster\n";
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            // The listener's credentials are taken at listen().
            if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || setgid(kNobody) != 0
                || setuid(kNobody) != 0 || listen(fd, 4) != 0)
                _exit(1);
            (void)!write(ready[1], "r", 1);
            for (;;) {
                int peer = accept(fd, nullptr, nullptr);
                char request[256];
                (void)!recv(peer, request, sizeof request, 0);
                (void)!send(peer, forged, sizeof forged - 1, MSG_NOSIGNAL);
                close(peer);
            }
        }
        close(ready[1]);
        char byte = 0;
        bool up = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        if (!up && pid > 0) {
            waitpid(pid, nullptr, 0);
            return -1;
        }
        return pid;
    }

    // The room's answer to a raw request sent by a child process running as `user`.
    std::string requestAs(uid_t user, const std::string& request)
    {
        int answer[2];
        if (pipe2(answer, O_CLOEXEC) != 0)
            return {};
        pid_t pid = fork();
        if (pid == 0) {
            if (setgid(user) != 0 || setuid(user) != 0)
                _exit(1);
            int fd = connectRaw();
            (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            std::string heard = readToEnd(fd);
            (void)!write(answer[1], heard.data(), heard.size());
            _exit(0);
        }
        close(answer[1]);
        std::string heard = readToEnd(answer[0]);
        waitpid(pid, nullptr, 0);
        return heard;
    }

    // Everything the room (or a pipe) sends until it closes; closes this end too.
    static std::string readToEnd(int fd)
    {
        std::string answer;
        char chunk[4096];
        for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
            answer.append(chunk, size_t(got));
        close(fd);
        return answer;
    }
};

TEST_F(Admin, ListShowsTheRosterInOrder)
{
    startServer();
    expectRoster({});
    auto [a, b, c] = connectClients<3>();
    syncByPassingClient(false);
    expectRoster({ &a, &b, &c });

    closeAndExpectLeaveNotice(b, false);
    expectRoster({ &a, &c });
}

// A member's name is the sender line of its latest framed message, whether it joined by TCP or
// as a page (a UTF-8 text frame); printed in UTF-8 beside the address, while `list` stays as
// it was.
TEST_F(Admin, NamesAreTheSenderLinesMembersFrameWith)
{
    startServer();
    LoopbackClient& framing = connectClient();
    LoopbackClient& page = connectClient({ .webSocket = true });
    LoopbackClient& plain = connectClient();
    syncByPassingClient(false);

    framing.send("小明\r\nabc");
    expectAllReceive("小明\r\nabc");
    page.sendText(utf8(u8"Amy\r\nabc\r\n\r\n小红\r\nxyz"));
    expectAllReceive("Amy\r\nabc\r\n\r\n小红\r\nxyz");
    plain.send("just a line\r\n");
    expectAllReceive("just a line\r\n");
    CommandResult names = admin({ "names" });
    EXPECT_EQ(names.status, kExitDone) << names.error;
    EXPECT_EQ(names.output, framing.address() + utf8(u8" 小明\n") + page.address() + utf8(u8" 小红\n") + plain.address() + "\n");
    expectRoster({ &framing, &page, &plain });
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
    auto [bystander, target] = connectClients<2>();
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
    auto [a, b, c] = connectRoom<3>();

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
    connectRoom(2);

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
    auto [a, b] = connectClients<2>();
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

    // The private directory keeps the other user away from the socket (the command cannot even
    // look into it)...
    CommandResult command = admin({ "list" }, kNobody, program);
    EXPECT_EQ(command.status, kExitRefused) << command.error;
    // ...and where the directory lets the other user through, the room itself refuses.
    chmod(runtimeDirectory().c_str(), 0711);
    chmod((runtimeDirectory() + "/chatroom-server").c_str(), 0711);
    chmod(socketPath().c_str(), 0666);
    std::string refused = requestAs(kNobody, "kick " + a.address() + "\n");
    EXPECT_EQ(refused.rfind("refused ", 0), 0u) << refused;
    EXPECT_NE(refused.find("only the user who runs the room"), std::string::npos) << refused;
    syncByProbe(a);
    // The room's own command believes only a private directory again.
    EXPECT_EQ(admin({ "list" }).status, kExitRefused);
    chmod((runtimeDirectory() + "/chatroom-server").c_str(), 0700);
    expectRoster({ &a });
}

TEST_F(Admin, PlantedRoomsAreNotBelieved)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "planting another user's directory and socket needs root";
    startServer();
    LoopbackClient& a = connectClient();
    syncByPassingClient(false);

    enum class Plant { LinkToTheirs, TheirDirectory, OpenDirectory, TheirSocket };
    struct Case {
        Plant plant;
        const char* told;
    };
    const Case cases[] = {
        { Plant::LinkToTheirs, "is a symbolic link" },
        { Plant::TheirDirectory, "belongs to uid 65534" },
        { Plant::OpenDirectory, "has mode 0755" },
        { Plant::TheirSocket, "is served by uid 65534" },
    };
    for (const Case& planted : cases) {
        TempDirectory runtime("chatroom-e2e-planted");
        TempDirectory theirs("chatroom-e2e-theirs");
        std::string directory = runtime.path() + "/chatroom-server";
        switch (planted.plant) {
        case Plant::LinkToTheirs:
            ASSERT_EQ(chown(theirs.path().c_str(), kNobody, kNobody), 0);
            ASSERT_EQ(symlink(theirs.path().c_str(), directory.c_str()), 0);
            break;
        case Plant::TheirDirectory:
            ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
            ASSERT_EQ(chown(directory.c_str(), kNobody, kNobody), 0);
            break;
        case Plant::OpenDirectory:
            ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
            ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
            break;
        case Plant::TheirSocket:
            ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
            break;
        }
        pid_t forger = forgeRoom(directory + "/control.sock");
        ASSERT_GT(forger, 0) << "the forged room did not come up";
        CommandResult list = runProgram({ server().executable(), { "admin", "list" }, { { "XDG_RUNTIME_DIR", runtime.path() } } });
        kill(forger, SIGKILL);
        waitpid(forger, nullptr, 0);
        EXPECT_EQ(list.status, kExitRefused) << planted.told << ": " << list.error;
        EXPECT_EQ(list.output, "") << planted.told;
        EXPECT_NE(list.error.find(planted.told), std::string::npos) << list.error;
    }
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
