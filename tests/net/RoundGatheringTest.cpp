// What handlers send inside a round of readiness callbacks, gathered and written when the
// round is over (on a loop with rounds; at once on one without): a relay of several senders
// at once, with a kick from the handler, must still give every receiver every line whole and
// in its sender's order.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace net_test {
namespace {

using RoundGatheringTest = ListeningServerFixture;

// A relay: every arrival goes to everybody, and its sender also gets an acknowledgement of
// its own, so that what one round sends a client is not one run of equal messages. Several
// senders at once, each line whole and in its sender's order, at every receiver; a client
// kicked from the handler still gets what was sent to it before its end (and misses what the
// others sent after it).
TEST_F(RoundGatheringTest, ARelayFromTheHandlerDeliversEverySendersLinesWholeAndInOrder)
{
    constexpr int kSenders = 3;
    constexpr int kLines = 40;
    const std::string kAck = "ack\n";
    const std::string kKicked = "kicked\n";
    auto line = [](int sender, int n) {
        std::string text(1, static_cast<char>('A' + sender));
        text.append(std::to_string(n)).append(24, '.').push_back('\n');
        return text;
    };
    onEvent = [&](TcpServer::Event event) {
        if (event != TcpServer::DataArrival)
            return;
        std::string from = server->getClient();
        std::string data = server->getData().bytes;
        for (const std::string& to : server->clientList())
            server->sendData(to, data);
        server->sendData(from, data.ends_with("bye\n") ? kKicked : kAck);
        if (data.ends_with("bye\n"))
            server->disconnectClient(from);
    };
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < kSenders; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_TRUE(waitEntered(*clients.back()));
    }
    for (int n = 0; n < kLines; ++n) {
        for (int i = 0; i < kSenders; ++i)
            clients[static_cast<size_t>(i)]->send(line(i, n));
    }
    clients.back()->send("bye\n");
    std::string kicked = clients.back()->address();
    ASSERT_TRUE(waitLeft(kicked));

    for (int i = 0; i < kSenders; ++i) {
        LoopbackClient& client = *clients[static_cast<size_t>(i)];
        bool isKicked = client.address() == kicked;
        std::string received = isKicked ? client.readToEnd() : "";
        if (!isKicked) {
            // Every sender's last line, the kicked one's farewell included.
            loop.runUntil([&] {
                received += client.readSome(0);
                bool all = received.find("bye\n") != std::string::npos;
                for (int sender = 0; sender < kSenders; ++sender)
                    all = all && received.find(line(sender, kLines - 1)) != std::string::npos;
                return all;
            });
        }
        std::vector<int> next(kSenders, 0);
        size_t acks = 0;
        bool sawKicked = false;
        for (size_t at = 0, end; at < received.size(); at = end + 1) {
            end = received.find('\n', at);
            ASSERT_NE(end, std::string::npos) << "a cut line at the end of " << i;
            std::string got = received.substr(at, end + 1 - at);
            if (got == kAck || got == kKicked || got == "bye\n") {
                acks += got == kAck ? 1 : 0;
                sawKicked = sawKicked || got == kKicked;
                continue;
            }
            int sender = got[0] - 'A';
            ASSERT_TRUE(sender >= 0 && sender < kSenders) << got;
            EXPECT_EQ(got, line(sender, next[static_cast<size_t>(sender)]++)) << "at receiver " << i;
        }
        if (isKicked) {
            EXPECT_EQ(next[static_cast<size_t>(i)], kLines);
            EXPECT_TRUE(received.ends_with(kKicked));
        } else {
            EXPECT_EQ(next, std::vector<int>(kSenders, kLines)) << "at receiver " << i;
            EXPECT_GT(acks, 0u);
        }
        EXPECT_EQ(sawKicked, isKicked);
    }
}

}
}
