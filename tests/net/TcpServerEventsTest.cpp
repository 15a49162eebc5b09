// The server component's events over real connections on 127.0.0.1: enter, data and leave in
// order, client addresses, closures and resets, disconnecting (also from inside handlers) and
// the rule that a client's own input waits while one of its events is being handled.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace net_test {
namespace {

using Events = std::vector<RecordedEvent>;

using TcpServerEvents = ListeningServerFixture;

TEST_F(TcpServerEvents, OneClientEntersSendsAndLeavesInOrder)
{
    std::string address;
    {
        LoopbackClient client(port);
        ASSERT_TRUE(client.isOpen());
        address = client.address();
        ASSERT_TRUE(waitEntered(client));
        EXPECT_EQ(server->clientList(), std::vector<std::string> { address });
        ASSERT_TRUE(client.trySend("hello"));
        ASSERT_TRUE(waitReceived(address, 5));
    }
    ASSERT_TRUE(waitLeft(address));
    EXPECT_EQ(events, (Events { entered(address), arrived(address, "hello"), left(address) }));
    EXPECT_TRUE(server->clientList().empty());
    EXPECT_EQ(server->getClient(), "");
    EXPECT_TRUE(server->getData().empty());
}

TEST_F(TcpServerEvents, SeveralClientsKeepTheirOwnOrderAndTheListKeepsConnectionOrder)
{
    LoopbackClient a(port), b(port), c(port);
    ASSERT_TRUE(waitEntered(a));
    ASSERT_TRUE(waitEntered(b));
    ASSERT_TRUE(waitEntered(c));
    EXPECT_EQ(server->clientList(), (std::vector<std::string> { a.address(), b.address(), c.address() }));

    ASSERT_TRUE(b.trySend("from b"));
    ASSERT_TRUE(waitReceived(b.address(), 6));
    ASSERT_TRUE(a.trySend("from a"));
    ASSERT_TRUE(waitReceived(a.address(), 6));
    std::string bAddress = b.address();
    b.close();
    ASSERT_TRUE(waitLeft(bAddress));
    EXPECT_EQ(server->clientList(), (std::vector<std::string> { a.address(), c.address() }));

    EXPECT_EQ(eventsOf(a.address()), (Events { entered(a.address()), arrived(a.address(), "from a") }));
    EXPECT_EQ(eventsOf(bAddress), (Events { entered(bAddress), arrived(bAddress, "from b"), left(bAddress) }));
    EXPECT_EQ(eventsOf(c.address()), (Events { entered(c.address()) }));
}

TEST_F(TcpServerEvents, TwoConnectionsFromOneHostHaveDifferentAddresses)
{
    LoopbackClient a(port), b(port);
    ASSERT_TRUE(waitEntered(a));
    ASSERT_TRUE(waitEntered(b));
    // The names are the peers' own address and port, so they differ by port.
    EXPECT_NE(a.address(), b.address());
    EXPECT_EQ(server->clientList(), (std::vector<std::string> { a.address(), b.address() }));
}

TEST_F(TcpServerEvents, SeparateSendsArriveInOrderInOneEventOrSeveral)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    ASSERT_TRUE(client.trySend("abc"));
    ASSERT_TRUE(client.trySend("def"));
    ASSERT_TRUE(waitReceived(client.address(), 6));
    loop.runRounds(3);
    EXPECT_EQ(receivedFrom(client.address()), "abcdef");
    size_t arrivals = count(TcpServer::DataArrival, client.address());
    EXPECT_GE(arrivals, 1u);
    EXPECT_LE(arrivals, 2u);
}

TEST_F(TcpServerEvents, LargeUploadArrivesWholeInBoundedEvents)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    std::string upload(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < upload.size(); ++i)
        upload[i] = static_cast<char>((i * 7919) >> 3);
    std::thread sender([&] { client.trySend(upload); });
    bool whole = waitReceived(client.address(), upload.size());
    sender.join();
    ASSERT_TRUE(whole);
    EXPECT_TRUE(receivedFrom(client.address()) == upload);
    // One client's flood is read in portions, so the loop gets round to the others.
    for (const auto& e : events)
        EXPECT_LE(e.data.size(), 1024u * 1024u);
}

TEST_F(TcpServerEvents, ClientThatClosesWithoutSendingEntersAndLeavesWithoutData)
{
    std::string address;
    {
        LoopbackClient client(port);
        address = client.address();
        ASSERT_TRUE(waitEntered(client));
    }
    ASSERT_TRUE(waitLeft(address));
    loop.runRounds(3);
    EXPECT_EQ(events, (Events { entered(address), left(address) }));
}

TEST_F(TcpServerEvents, DataSentJustBeforeClosingArrivesBeforeTheLeave)
{
    std::string address;
    {
        LoopbackClient client(port);
        address = client.address();
        ASSERT_TRUE(waitEntered(client));
        ASSERT_TRUE(client.trySend("last words"));
    }
    ASSERT_TRUE(waitLeft(address));
    EXPECT_EQ(events, (Events { entered(address), arrived(address, "last words"), left(address) }));
}

TEST_F(TcpServerEvents, ClientResetIsAClosure)
{
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));
    ASSERT_TRUE(client.trySend("x"));
    ASSERT_TRUE(waitReceived(address, 1));
    client.resetConnection();
    // Sending to the reset connection fails (and must not raise SIGPIPE), twice over.
    EXPECT_FALSE(server->sendData(address, "are you there?"));
    EXPECT_FALSE(server->sendData(address, "are you there?"));
    ASSERT_TRUE(waitLeft(address));
    EXPECT_EQ(events, (Events { entered(address), arrived(address, "x"), left(address) }));
    EXPECT_TRUE(server->clientList().empty());
}

TEST_F(TcpServerEvents, DisconnectRaisesTheLeaveInsideTheCallAndOnlyOnce)
{
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));
    ASSERT_TRUE(server->sendData(address, "you are kicked"));

    server->disconnectClient(address);
    EXPECT_EQ(events, (Events { entered(address), left(address) }));
    EXPECT_TRUE(server->clientList().empty());
    EXPECT_EQ(server->getClient(), "");

    server->disconnectClient(address);
    server->disconnectClient("");
    server->disconnectClient("127.0.0.1:1");
    loop.runRounds(3);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_FALSE(server->sendData(address, "gone"));

    // The notice sent just before the disconnect arrives, followed by an orderly end.
    EXPECT_EQ(client.readToEnd(), "you are kicked");
    EXPECT_TRUE(client.endedCleanly());
}

TEST_F(TcpServerEvents, SendingToTheLeavingClientFromItsLeaveHandlerFails)
{
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));
    std::vector<bool> results;
    onEvent = [&](TcpServer::Event event) {
        if (event == TcpServer::ClientLeft)
            results.push_back(server->sendData(server->getClient(), "bye"));
    };
    server->disconnectClient(address);
    EXPECT_EQ(results, std::vector<bool> { false });
}

TEST_F(TcpServerEvents, DisconnectFromTheDataHandlerGivesOneLeaveEvenWhenTheStreamEnded)
{
    disconnectFromTheHandlerOf(TcpServer::DataArrival);
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));
    // Data and end of stream are both waiting when the server reads.
    ASSERT_TRUE(client.trySend("bad word"));
    client.shutdownSending();
    ASSERT_TRUE(waitLeft(address));
    loop.runRounds(5);
    EXPECT_EQ(events, (Events { entered(address), arrived(address, "bad word"), left(address) }));
}

TEST_F(TcpServerEvents, DisconnectingAnotherClientFromAHandlerIsSafe)
{
    LoopbackClient a(port), b(port);
    std::string aAddress = a.address(), bAddress = b.address();
    ASSERT_TRUE(waitEntered(a));
    ASSERT_TRUE(waitEntered(b));
    onEvent = [&](TcpServer::Event event) {
        if (event == TcpServer::DataArrival && server->getClient() == aAddress)
            server->disconnectClient(bAddress);
    };
    // Both sockets are ready in the same round; a's handler removes b before b is served.
    ASSERT_TRUE(b.trySend("b data"));
    b.shutdownSending();
    ASSERT_TRUE(a.trySend("a data"));
    ASSERT_TRUE(waitLeft(bAddress));
    loop.runRounds(5);

    EXPECT_EQ(count(TcpServer::ClientLeft, bAddress), 1u);
    EXPECT_EQ(receivedFrom(aAddress), "a data");
    EXPECT_EQ(server->clientList(), std::vector<std::string> { aAddress });
    EXPECT_EQ(b.readToEnd(), "");
    EXPECT_TRUE(b.endedCleanly());
}

TEST_F(TcpServerEvents, DisconnectFromTheEnteredHandlerLeavesNoClientBehind)
{
    disconnectFromTheHandlerOf(TcpServer::ClientEntered);
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitLeft(address));
    loop.runRounds(5);
    EXPECT_EQ(events, (Events { entered(address), left(address) }));
    EXPECT_TRUE(server->clientList().empty());
}

// A handler that runs a nested loop (a message box) lets other sockets be served, but not the
// input of the client whose event it is handling, and the nested loop must not spin on it.
TEST_F(TcpServerEvents, NestedLoopInAHandlerDoesNotReadThatClientAgain)
{
    LoopbackClient client(port);
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));
    LoopbackClient other(port);

    int nestedCallbacks = -1;
    bool inside = false;
    int reentries = 0;
    onEvent = [&](TcpServer::Event event) {
        if (event != TcpServer::DataArrival || server->getClient() != address)
            return;
        if (inside) {
            ++reentries;
            return;
        }
        if (nestedCallbacks >= 0)
            return;
        inside = true;
        client.trySend("more");
        // The other client's arrival is served inside; then the loop must go quiet.
        loop.runUntil([&] { return count(TcpServer::ClientEntered, other.address()) > 0; });
        nestedCallbacks = loop.runRounds(5);
        inside = false;
    };
    ASSERT_TRUE(client.trySend("first"));
    ASSERT_TRUE(waitReceived(address, 9));

    EXPECT_EQ(reentries, 0);
    EXPECT_EQ(nestedCallbacks, 0);
    EXPECT_EQ(count(TcpServer::ClientEntered, other.address()), 1u);
    EXPECT_EQ(receivedFrom(address), "firstmore");
}

TEST_F(TcpServerEvents, DataOfANewClientWaitsUntilItsEnteredHandlerReturns)
{
    bool enteredDone = false;
    bool dataBeforeEntered = false;
    onEvent = [&](TcpServer::Event event) {
        if (event == TcpServer::DataArrival && !enteredDone)
            dataBeforeEntered = true;
        if (event == TcpServer::ClientEntered) {
            // The client has already spoken; a nested loop runs before this handler ends.
            loop.runRounds(3);
            enteredDone = true;
        }
    };
    LoopbackClient client(port);
    ASSERT_TRUE(client.trySend("hi"));
    ASSERT_TRUE(waitReceived(client.address(), 2));
    EXPECT_FALSE(dataBeforeEntered);
}

}
}
