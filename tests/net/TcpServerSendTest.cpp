// sendData over real connections: empty and unknown cases, large messages, and a client that
// stops reading, which must never receive a message cut short and followed by the next one.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace net_test {
namespace {

class TcpServerSend : public ServerFixture {
protected:
    void SetUp() override
    {
        startServer();
        ASSERT_TRUE(server->isListening());
    }
};

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

TEST_F(TcpServerSend, EmptyOrUnknownTargets)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    struct Case {
        std::string client;
        std::string bytes;
        int32_t waitLimit;
        bool result;
    };
    const Case cases[] = {
        { client.address(), "", 1, true },
        { client.address(), "", -1, true },
        { "", "data", 1, false },
        { "127.0.0.1:1", "data", 1, false },
        // Exact comparison: a prefix or an extended name is another client.
        { client.address().substr(0, client.address().size() - 1), "data", 1, false },
        { client.address() + "0", "data", 1, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(server->sendData(c.client, c.bytes, c.waitLimit), c.result) << "'" << c.client << "' " << c.bytes.size();
    // Nothing reached the client: the next bytes it reads are these.
    ASSERT_TRUE(server->sendData(client.address(), ByteBlock(std::string("\0marker", 7)), 1));
    EXPECT_EQ(client.readExactly(7), std::string("\0marker", 7));
}

TEST_F(TcpServerSend, TenMegabytesArriveWhole)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    std::string big = pattern(10 * 1000 * 1000, 3);
    std::string received;
    std::thread reader([&] { received = client.readExactly(big.size(), kTransferWaitMs); });
    bool sent = server->sendData(client.address(), big, 60);
    reader.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(received.size(), big.size());
    EXPECT_TRUE(received == big);
}

// Without a wait the socket takes what it can; the rest goes out from the loop, whole and
// before anything sent later.
TEST_F(TcpServerSend, RestOfAMessageTheSocketTookInPartGoesOutFromTheLoop)
{
    LoopbackClient client(port);
    ASSERT_TRUE(waitEntered(client));
    std::string big = pattern(10 * 1000 * 1000, 5);
    std::atomic<size_t> got { 0 };
    std::string received;
    std::thread reader([&] {
        while (received.size() < big.size()) {
            std::string part = client.readExactly(std::min<size_t>(256 * 1024, big.size() - received.size()), kTransferWaitMs);
            if (part.empty())
                break;
            received += part;
            got = received.size();
        }
        received += client.readExactly(4);
    });
    server->sendData(client.address(), big, -1);
    bool flushed = loop.runUntil([&] { return got >= big.size(); });
    bool nextSent = flushed && server->sendData(client.address(), "next", 30);
    // Ends the reader in every case.
    server->disconnectClient(client.address());
    reader.join();
    EXPECT_TRUE(flushed) << got;
    EXPECT_TRUE(nextSent);
    EXPECT_TRUE(received == big + "next");
}

// A client that stops reading makes sends fail once its connection is full. Whatever a
// failed send had begun is finished later, before anything else; whatever it had not begun
// is never sent. So the client sees every message that succeeded, whole and in order, and
// of the failed ones each either whole or not at all.
TEST_F(TcpServerSend, StalledClientNeverGetsACutMessage)
{
    LoopbackClient client(port, { .receiveBuffer = 64 * 1024 });
    std::string address = client.address();
    ASSERT_TRUE(waitEntered(client));

    // The kernel may still free a little room now and then (compacting the receiver's
    // queue), so keep trying until two sends in a row have failed.
    std::vector<bool> results;
    int failuresInARow = 0;
    for (int n = 0; n < 400 && failuresInARow < 2; ++n) {
        results.push_back(server->sendData(address, message(n), n % 2 ? 1 : -1));
        failuresInARow = results.back() ? 0 : failuresInARow + 1;
    }
    ASSERT_EQ(failuresInARow, 2) << "the connection never filled up";

    // The client reads again; a later message waits for any begun rest, then goes.
    int last = static_cast<int>(results.size());
    std::string received;
    std::thread reader([&] { received = client.readToEnd(kTransferWaitMs); });
    results.push_back(server->sendData(address, message(last), 60));
    server->disconnectClient(address);
    reader.join();
    EXPECT_TRUE(results.back());
    EXPECT_TRUE(client.endedCleanly());

    std::vector<int> found = messagesIn(received, 0);
    EXPECT_EQ(std::count(found.begin(), found.end(), -1), 0) << "a message arrived cut";
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
    size_t at = 0;
    for (int n = 0; n <= last; ++n) {
        bool arrived = at < found.size() && found[at] == n;
        if (results[static_cast<size_t>(n)]) {
            EXPECT_TRUE(arrived) << "message " << n << " was sent but did not arrive";
        }
        at += arrived ? 1 : 0;
    }
    EXPECT_EQ(at, found.size()) << "something arrived that was never sent";
}

}
}
