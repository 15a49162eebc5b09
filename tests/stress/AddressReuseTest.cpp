// A newcomer on the address of a client that has just gone: after a reset the kernel may hand
// the same local port to the next connection at once, while the server has not yet read the
// reset of the old one. The server names clients by address, and the old connection is dead
// (a live one could not share the address), so the newcomer must be let in, not dropped.
#include "StressRoom.h"

namespace {

class AddressReuse : public StressRoom { };

TEST_F(AddressReuse, NewcomerOnTheAddressOfAResetClientIsLetIn)
{
    startServer();
    auto [writer, leaver] = connectClients<2>();
    // Last in the roster: every relay reaches the others before the server waits on it.
    LoopbackClient& stalled = connectClient({ .receiveBuffer = kSmallReceiveBuffer });
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

    // Throws when the port is not free again.
    LoopbackClient newcomer(ServerProcess::kPort, { .localPort = port });

    // The old connection's leave is told, and the newcomer's probe reaches the room and
    // itself.
    expectReceives(writer, leaveNotice(true, leaverAddress));
    newcomer.send(kProbe);
    std::string heard = newcomer.readExactly(kProbe.size());
    ASSERT_EQ(heard.size(), kProbe.size()) << "the newcomer was dropped";
    EXPECT_EQ(heard, kProbe);
    expectReceives(writer, std::string(kProbe));
}

} // namespace
