// A connection's delivery over real sockets: empty and unknown targets, large messages that
// wait in the queue (also through a disconnect), and a client that stops reading, which must
// never receive a message cut short and followed by the next one.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace net_test {
namespace {

using ConnectionTest = ListeningServerFixture;

// Reads of many megabytes may take as long as the server's own send is allowed to.
constexpr int kTransferWaitMs = 60000;

std::string pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return bytes;
}

// Message n of a numbered series: one byte value throughout, different from its neighbours,
// so a cut message shows as a run of the wrong length.
constexpr size_t kMessageSize = 64 * 1024;
std::string message(int n) { return std::string(kMessageSize, static_cast<char>('a' + n % 26)); }

// Splits a stream into runs of equal bytes and says which messages they are; a run of any
// other length than a whole message gives -1.
std::vector<int> messagesIn(const std::string& stream, int firstGuess)
{
    std::vector<int> found;
    size_t at = 0;
    int next = firstGuess;
    while (at < stream.size()) {
        size_t end = stream.find_first_not_of(stream[at], at);
        if (end == std::string::npos)
            end = stream.size();
        if (end - at != kMessageSize) {
            found.push_back(-1);
        } else {
            // Message numbers only grow; find the next one with this byte.
            while (message(next)[0] != stream[at])
                ++next;
            found.push_back(next++);
        }
        at = end;
    }
    return found;
}

TEST_F(ConnectionTest, EmptyOrUnknownTargets)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    struct Case {
        std::string client;
        std::string bytes;
        bool result;
    };
    const Case cases[] = {
        { client.address(), "", true },
        { "", "data", false },
        { "127.0.0.1:1", "data", false },
        // Exact comparison: a prefix or an extended name is another client.
        { client.address().substr(0, client.address().size() - 1), "data", false },
        { client.address() + "0", "data", false },
        // Larger than a client's queue may ever hold: refused whole, nothing of it sent.
        { client.address(), std::string(TcpServer::kClientQueueCap + 1, 'x'), false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(server->sendData(c.client, c.bytes), c.result) << "'" << c.client << "' " << c.bytes.size();
    // Nothing reached the client: the next bytes it reads are these.
    ASSERT_TRUE(server->sendData(client.address(), ByteBlock(std::string("\0marker", 7))));
    EXPECT_EQ(client.readExactly(7), std::string("\0marker", 7));
}

// Messages the socket takes only in part go out from the loop, whole, in order, and before
// anything sent later; the send itself never waits. A disconnect (the kick) does not cut them
// off: the last message queued still arrives before the connection ends.
TEST_F(ConnectionTest, QueuedMessagesGoOutFromTheLoopInOrderEvenAfterADisconnect)
{
    // The closing connection's own deadline would cut the queue short where a starved reader
    // (a loaded machine, Wine) takes more than a second for megabytes: this case is the order.
    server->setCloseFlushTime(std::chrono::milliseconds(kTransferWaitMs));
    LoopbackClient client(port, { .receiveBuffer = 64 * 1024 });
    ASSERT_TRUE(waitEntered(client));
    // Nobody reads yet: once the kernel's buffers are full, the next messages are queued.
    // Half a client's cap is queued, far more than the kernel's send buffer may still grow
    // by while the acknowledgements of what it sent come in.
    constexpr size_t kPart = 256 * 1024;
    constexpr unsigned kMostParts = 200;
    std::string expected;
    for (unsigned n = 0; n < kMostParts && server->queuedBytes() < TcpServer::kClientQueueCap / 2; ++n) {
        std::string part = pattern(kPart, n);
        ASSERT_TRUE(server->sendData(client.address(), part));
        expected += part;
    }
    ASSERT_GT(server->queuedBytes(), 0u) << "the kernel took everything: nothing was queued";
    ASSERT_TRUE(server->sendData(client.address(), "you are kicked"));
    expected += "you are kicked";
    server->disconnectClient(client.address());
    EXPECT_EQ(count(TcpServer::ClientLeft, client.address()), 1u);
    EXPECT_GT(server->queuedBytes(), 0u);

    std::string received;
    std::thread reader([&] { received = client.readToEnd(kTransferWaitMs); });
    EXPECT_TRUE(loop.runUntil([&] { return server->queuedBytes() == 0; }));
    reader.join();
    EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size() << " bytes";
    EXPECT_TRUE(client.endedCleanly());
}

// A client that stops reading fills its queue; sends to it are then refused whole, and it
// stays connected. When it reads again it gets every accepted message, whole and in order,
// and none of the refused ones.
TEST_F(ConnectionTest, StalledClientNeverGetsACutMessage)
{
    LoopbackClient client(port, { .receiveBuffer = 64 * 1024 });
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));

    std::vector<bool> results;
    int refusals = 0;
    for (int n = 0; n < 400 && refusals < 3; ++n) {
        results.push_back(server->sendData(address, message(n)));
        refusals += results.back() ? 0 : 1;
        loop.runOnce(0);
    }
    ASSERT_EQ(refusals, 3) << "the queue never filled up";
    EXPECT_LE(server->queuedBytes(), TcpServer::kClientQueueCap);
    EXPECT_EQ(server->clientList(), std::vector<std::string> { address });

    // The client reads again; the loop sends the queue, then a later message.
    std::string received;
    std::thread reader([&] { received = client.readToEnd(kTransferWaitMs); });
    loop.runUntil([&] { return server->queuedBytes() == 0; });
    int last = static_cast<int>(results.size());
    results.push_back(server->sendData(address, message(last)));
    server->disconnectClient(address);
    loop.runUntil([&] { return server->queuedBytes() == 0; });
    reader.join();
    EXPECT_TRUE(results.back());
    EXPECT_TRUE(client.endedCleanly());

    std::vector<int> found = messagesIn(received, 0);
    EXPECT_EQ(std::count(found.begin(), found.end(), -1), 0) << "a message arrived cut";
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
    size_t at = 0;
    for (int n = 0; n <= last; ++n) {
        bool arrived = at < found.size() && found[at] == n;
        EXPECT_EQ(arrived, static_cast<bool>(results[static_cast<size_t>(n)])) << "message " << n;
        at += arrived ? 1 : 0;
    }
    EXPECT_EQ(at, found.size()) << "something arrived that was never sent";
}

}
}
