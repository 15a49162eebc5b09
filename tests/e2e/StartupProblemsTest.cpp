// What the administrator is told when the room cannot start as it should: a port that is
// taken ends the program with a failure status, a word library that cannot be used is named
// with what is wrong with it, and a display that cannot be opened leaves the room running
// headless. Headless, each message box is one line on standard error, and the start says on
// standard output where to join.
#include "RoomTexts.h"
#include "ServerProcess.h"
#include "support/LoopbackClient.h"
#include "support/NoticeTexts.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace test_support;

namespace fs = std::filesystem;

// The largest word library the program loads.
constexpr uintmax_t kLibraryLimit = 32 * 1024 * 1024;

// A listener of the test's own on the room's port.
class PortHolder {
public:
    PortHolder()
        : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(ServerProcess::kPort);
        m_listening = bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(m_fd, 1) == 0;
    }
    ~PortHolder() { close(m_fd); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool listening() const { return m_listening; }

private:
    int m_fd;
    bool m_listening = false;
};

TEST(StartupProblems, ATakenPortEndsTheProgramNamingThePortAndTheReason)
{
    PortHolder holder;
    ASSERT_TRUE(holder.listening()) << "another program listens on the port";
    TempDirectory configHome("chatroom-e2e-config");
    ServerProcess server(testWordLibrary(), configHome.path());
    server.launch();
    EXPECT_EQ(server.waitForExit(), ServerProcess::kCannotListenStatus);
    // One message, and nothing about the word library: the room never started.
    EXPECT_EQ(server.standardError(), utf8(u8"错误： 无法在TCP端口19730上监听（Address already in use），聊天室服务器将退出！\n"));
}

struct LibraryCase {
    const char* what;
    std::function<void(const fs::path&)> make; // puts reply.ini at the path
    std::u8string_view message;
    bool robotOn;
};

void writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Leaves a socket file at the path (nothing listens on it).
void bindSocketFile(const fs::path& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    close(fd);
}

TEST(StartupProblems, AnUnusableWordLibraryIsNamedWithWhatIsWrong)
{
    const LibraryCase cases[] = {
        { "missing", [](const fs::path&) {}, u8"缺少reply.ini词库文件！", false },
        { "a directory", [](const fs::path& path) { fs::create_directory(path); }, u8"reply.ini词库文件不是普通文件！", false },
        { "a FIFO", [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, u8"reply.ini词库文件不是普通文件！", false },
        { "a socket", [](const fs::path& path) { bindSocketFile(path); }, u8"reply.ini词库文件不是普通文件！", false },
        // Read, but nothing to answer with: told, and the robot is on as for any library read.
        { "empty", [](const fs::path& path) { writeBytes(path, ""); }, u8"reply.ini词库文件是空的，机器人无话可答！", true },
        { "LF line ends", [](const fs::path& path) { writeBytes(path, bytesOf("你好\n你好呀\n\n谢谢\n不客气\n")); },
            u8"reply.ini词库文件的行尾只有LF，没有可读的词条（行尾须为CR LF），机器人无话可答！", true },
        { "a link to itself", [](const fs::path& path) { fs::create_symlink(path.filename(), path); }, u8"reply.ini词库文件无法读取！", false },
        // 你好 and 你好呀 are two bytes a character in code page 936.
        { "a NUL in the middle", [](const fs::path& path) { writeBytes(path, bytesOf("你好\r\n你好呀\0好\r\n嗯")); },
            u8"reply.ini词库文件的第13个字节是空字符，其后的内容未载入！", true },
        { "one byte over the limit", [](const fs::path& path) { writeBytes(path, ""); fs::resize_file(path, kLibraryLimit + 1); },
            u8"reply.ini词库文件超过32MB的大小上限，未载入！", false },
        { "the limit, all NULs", [](const fs::path& path) { writeBytes(path, ""); fs::resize_file(path, kLibraryLimit); },
            u8"reply.ini词库文件的第1个字节是空字符，其后的内容未载入！", true },
    };
    for (const LibraryCase& library : cases) {
        SCOPED_TRACE(library.what);
        TempDirectory configHome("chatroom-e2e-config");
        ServerProcess server(std::nullopt, configHome.path());
        library.make(fs::path(server.programDirectory()) / "reply.ini");
        server.start();

        // "@开启" is a vote only while the robot is off.
        LoopbackClient client(ServerProcess::kPort);
        client.send("@开启");
        std::string expected = std::string("@开启") + (library.robotOn ? "" : robotSays("还需要2个人才能开启我哦！"));
        EXPECT_EQ(client.readExactly(expected.size()), expected);
        client.send("~probe~");
        EXPECT_EQ(client.readExactly(7), "~probe~");

        EXPECT_EQ(server.stop(), 0);
        EXPECT_EQ(server.standardError(), utf8(u8"错误： ") + utf8(library.message) + "\n");
    }
}

struct DisplayCase {
    const char* variable;
    const char* value;
    std::string_view reason; // the start of the line on standard error
};

// A display that is named but cannot be opened (a stale ssh -X session, an empty variable, a
// compositor that has gone) is no reason to fail: the room runs headless and says why.
TEST(StartupProblems, AnUnusableDisplayLeavesTheRoomRunningHeadless)
{
    // An X display number that nothing serves here (its socket would be in /tmp/.X11-unix).
    ASSERT_FALSE(fs::exists("/tmp/.X11-unix/X77")) << "an X server runs on :77";
    const DisplayCase cases[] = {
        { "DISPLAY", ":77", "chatroom-server: the display :77 cannot be opened" },
        { "DISPLAY", "", "chatroom-server: DISPLAY is set but empty" },
        { "WAYLAND_DISPLAY", "nothing", "chatroom-server: the Wayland display nothing cannot be opened" },
    };
    for (const DisplayCase& display : cases) {
        SCOPED_TRACE(std::string(display.variable) + "=" + display.value);
        TempDirectory configHome("chatroom-e2e-config");
        ServerProcess server(testWordLibrary(), configHome.path());
        server.setEnvironmentVariable(display.variable, display.value);
        // Empty, as unset: Qt chooses the platform for the display.
        server.setEnvironmentVariable("QT_QPA_PLATFORM", "");
        server.start();
        LoopbackClient client(ServerProcess::kPort);
        client.send("~probe~");
        EXPECT_EQ(client.readExactly(7), "~probe~");
        EXPECT_EQ(server.stop(), 0);
        std::string error = server.standardError();
        EXPECT_TRUE(error.starts_with(display.reason)) << error;
        EXPECT_TRUE(error.ends_with("; running without a window\n")) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    }
}

// Started headless, the room says where to join: the TCP port, and the web entrance's address
// on the machine (here the test's network, where 127.0.0.1 may be its only address).
TEST(StartupProblems, AHeadlessStartSaysWhereToJoin)
{
    TempDirectory configHome("chatroom-e2e-config");
    ServerProcess server(testWordLibrary(), configHome.path());
    server.start();
    EXPECT_EQ(server.stop(), 0);
    std::string output = server.standardOutput();
    const std::string opening = "chatroom-server: the room is open: TCP port 19730; browsers join at http://";
    EXPECT_TRUE(output.starts_with(opening)) << output;
    EXPECT_TRUE(output.ends_with(":19731/\n")) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

} // namespace
