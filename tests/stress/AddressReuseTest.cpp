// A newcomer on the address of a client that has just gone: after a reset the kernel may hand
// the same local port to the next connection at once, while the server has not yet read the
// reset of the old one. The server names clients by address, and the old connection is dead
// (a live one could not share the address), so the newcomer must be let in, not dropped.
#include "StressRoom.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class AddressReuse : public StressRoom { };

TEST_F(AddressReuse, NewcomerOnTheAddressOfAResetClientIsLetIn)
{
    startServer();
    TestClient& writer = connectClient();
    TestClient& leaver = connectClient();
    // Last in the roster: every relay reaches the others before the server waits on it.
    TestClient& stalled = connectClient({}, 4096);
    syncByProbe(writer);
    fillConnection(writer, stalled);

    // The server relays this to the writer and the leaver, then waits up to a second on the
    // stalled client. Meanwhile the leaver resets and the newcomer connects from its port, so
    // the server finds both when it is back in its loop.
    writer.send("x");
    expectReceives(writer, "x");
    expectReceives(leaver, "x");
    std::string leaverAddress = leaver.address();
    uint16_t port = leaver.port();
    leaver.resetConnection();

    int newcomer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(newcomer, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in server = local;
    server.sin_port = htons(ServerProcess::kPort);
    ASSERT_EQ(bind(newcomer, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << "port " << port << " not free again";
    ASSERT_EQ(connect(newcomer, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    timeval wait { 10, 0 };
    setsockopt(newcomer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    // The old connection's leave is told, and the newcomer's probe reaches the room and
    // itself.
    expectReceives(writer, leaveNotice(true, leaverAddress));
    ASSERT_EQ(send(newcomer, kProbe.data(), kProbe.size(), MSG_NOSIGNAL), ssize_t(kProbe.size()));
    std::string heard(kProbe.size(), '\0');
    ssize_t got = recv(newcomer, heard.data(), heard.size(), MSG_WAITALL);
    close(newcomer);
    ASSERT_EQ(got, ssize_t(kProbe.size())) << "the newcomer was dropped";
    EXPECT_EQ(heard, kProbe);
    expectReceives(writer, std::string(kProbe));
}

} // namespace
