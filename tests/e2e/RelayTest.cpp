// The relay: whatever a client sends reaches every client in the room, itself included,
// byte for byte and with nothing added.
#include "RoomTest.h"

namespace {

class Relay : public RoomTest { };

TEST_F(Relay, LoneClientGetsItsOwnBytesBack)
{
    startServer();
    LoopbackClient& alone = connectClient();
    alone.send("name\r\nhello");
    expectReceives(alone, "name\r\nhello");
    // Nothing else was sent: the next bytes are those of the next chunk.
    syncByProbe(alone);
}

class RelayToRoom : public RoomTest, public ::testing::WithParamInterface<int> { };

TEST_P(RelayToRoom, EveryClientGetsEveryChunk)
{
    startServer();
    std::vector<LoopbackClient*> room = connectRoom(GetParam());

    for (size_t i = 0; i < room.size(); ++i) {
        std::string chunk = "client " + std::to_string(i) + "\r\nline one\r\n大家晚上见，我是" + std::to_string(i);
        room[i]->send(chunk);
        expectAllReceive(chunk);
    }
    syncByProbe(*room.front());
}

INSTANTIATE_TEST_SUITE_P(Clients, RelayToRoom, ::testing::Values(2, 3));

// Chunks the relay must pass through whole, each followed by the probe to show that nothing
// was added after it.
TEST_F(Relay, BytesArePassedThroughUnchanged)
{
    std::string large;
    for (int i = 0; large.size() < 100000; ++i)
        large += "line " + std::to_string(i) + " of a long message\r\n";
    const std::string chunks[] = {
        bytesOf("before\0after"),
        bytesOf("\0starts with NUL"),
        bytesOf("a\r\n\0\r\n\0"),
        "\r\n\r\n",
        "\xff\xfe\x80 not code page 936",
        large,
    };

    startServer();
    auto [sender, other] = connectClients<2>();
    syncByProbe(other);
    for (const std::string& chunk : chunks) {
        SCOPED_TRACE("chunk of " + std::to_string(chunk.size()) + " bytes");
        sender.send(chunk);
        expectAllReceive(chunk);
        syncByProbe(other);
    }
}

TEST_F(Relay, ClientEnteringIsSentNothing)
{
    startServer();
    LoopbackClient& first = connectClient();
    first.send("hello");
    expectReceives(first, "hello");

    // The newcomer's first bytes are the next relay, and the others hear nothing of its entry.
    LoopbackClient& newcomer = connectClient();
    syncByProbe(newcomer);
    first.send("welcome");
    expectAllReceive("welcome");
}

} // namespace
