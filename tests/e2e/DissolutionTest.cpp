// Closing the server: every client is told that the room is dissolved, in the form its history
// decides, then sees its connection end, and the program ends with status 0.
#include "RoomTest.h"

#include <thread>

namespace {

class Dissolution : public RoomTest {
protected:
    // The client's remaining bytes, which must end with an orderly close.
    static std::string remainingStream(LoopbackClient& client)
    {
        std::string rest = client.readToEnd();
        EXPECT_TRUE(client.hasEnded()) << client.address() << " saw no end of stream";
        EXPECT_FALSE(client.wasReset()) << client.address() << " was reset, not closed";
        return rest;
    }
};

TEST_F(Dissolution, EveryClientIsToldThenDisconnected)
{
    startServer();
    auto [first, second] = connectClients<2>();
    syncByPassingClient(false);
    first.send("hi");
    expectAllReceive("hi");
    // Joins after the data: it has been told of a leaver, which does not count as being sent
    // something, and so gets the first form.
    LoopbackClient& late = connectClient();
    syncByPassingClient(true);

    server().requestClose();
    EXPECT_EQ(remainingStream(first), dissolutionNotice(true));
    EXPECT_EQ(remainingStream(second), dissolutionNotice(true));
    EXPECT_EQ(remainingStream(late), dissolutionNotice(false));
    EXPECT_EQ(server().waitForExit(), 0) << server().standardError();
}

// Data sent just before the close: the server may have relayed any part of it, or none.
TEST_F(Dissolution, NoticeSurvivesUnreadInput)
{
    std::string pending;
    for (int i = 0; pending.size() < 200000; ++i)
        pending += "pending line " + std::to_string(i) + "\r\n";

    startServer();
    auto [listener, talker] = connectClients<2>();
    syncByProbe(talker);
    talker.send(pending);
    server().requestClose();

    std::string heard = remainingStream(listener);
    std::string echoed = remainingStream(talker);
    std::string notice = dissolutionNotice(true);
    ASSERT_TRUE(heard.ends_with(notice)) << heard.size() << " bytes without the notice at their end";
    std::string relayed = heard.substr(0, heard.size() - notice.size());
    EXPECT_TRUE(pending.starts_with(relayed)) << "relayed something other than a part of the data sent";
    EXPECT_EQ(echoed, heard);
    EXPECT_EQ(server().waitForExit(), 0) << server().standardError();
}

// Data that arrives while the server is telling the room: it is certainly unread when the
// connection closes, and the close must still be orderly, not a reset.
TEST_F(Dissolution, InputArrivingDuringTheCloseIsDroppedQuietly)
{
    startServer();
    LoopbackClient& talker = connectClient();
    // Reads nothing through a small window, once the probe is through: once its connection
    // is full, what is sent to it waits in the server's queue, which the close flushes within
    // its shared deadline.
    connectClient({ .receiveBuffer = kSmallReceiveBuffer });
    syncByProbe(talker);

    // More than the stalled client's connection can hold, the server's side included.
    std::string flood(largestSendBuffer() + 2 * 1024 * 1024, 'f');
    std::string sendError;
    std::thread sending([&] {
        try {
            talker.send(flood);
        } catch (const std::exception& error) {
            sendError = error.what();
        }
    });
    std::string echoed = talker.readExactly(flood.size(), 60000);
    sending.join();
    ASSERT_EQ(sendError, "");
    ASSERT_EQ(echoed.size(), flood.size());
    ASSERT_TRUE(echoed == flood);

    // The talker is first in the roster: it is told, and while the server waits for the
    // stalled client it sends more.
    server().requestClose();
    expectReceives(talker, dissolutionNotice(true));
    talker.send("said too late");
    EXPECT_EQ(remainingStream(talker), "");
    EXPECT_EQ(server().waitForExit(), 0) << server().standardError();
}

TEST_F(Dissolution, EmptyRoomClosesCleanly)
{
    startServer();
    EXPECT_EQ(server().stop(), 0) << server().standardError();
}

} // namespace
