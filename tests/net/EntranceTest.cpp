// A second entrance whose connections speak a transport of their own: here a toy one that
// joins the roster only after a greeting, answers it, and marks the server's own texts apart
// from relayed bytes. The roster, the events and the delivery are the component's as for any
// client.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace net_test {
namespace {

class GreetingTransport final : public ConnectionTransport {
public:
    bool joinsOnAccept() const override { return false; }
    Incoming decode(std::string&& bytes) override
    {
        Incoming incoming;
        if (!m_joined && bytes.starts_with("hello\n")) {
            m_joined = true;
            incoming.joinsRoster = true;
            incoming.answer = "welcome\n";
            bytes.erase(0, 6);
        }
        incoming.ends = bytes.ends_with("bye\n");
        if (m_joined)
            incoming.forRoom = std::move(bytes);
        return incoming;
    }
    std::string_view frame(const OutgoingMessage& message, std::string& scratch) override
    {
        if (message.kind == MessageKind::Relayed)
            return message.bytes;
        scratch.clear();
        scratch.push_back('!');
        scratch.append(message.bytes);
        return scratch;
    }

private:
    bool m_joined = false;
};

using EntranceTest = ListeningServerFixture;

TEST_F(EntranceTest, ConnectionsJoinWhenTheirTransportSaysAndKeepTheirFraming)
{
    int entrancePort = freeTcpPort();
    const Listener& entrance = server->openEntrance(static_cast<uint16_t>(entrancePort), [] { return std::make_unique<GreetingTransport>(); });
    ASSERT_TRUE(entrance.isListening()) << entrance.failure();
    auto readAtLeast = [&](LoopbackClient& client, size_t count) {
        std::string got;
        loop.runUntil([&] {
            got += client.readSome(0);
            return got.size() >= count;
        });
        return got;
    };

    LoopbackClient guest(static_cast<uint16_t>(entrancePort));
    LoopbackClient plain(static_cast<uint16_t>(port));
    ASSERT_TRUE(waitEntered(plain));
    EXPECT_EQ(server->clientList(), std::vector<std::string> { plain.address() }) << "a guest joined before its greeting";

    guest.send("hello\nhi all");
    ASSERT_TRUE(waitReceived(guest.address(), 6));
    EXPECT_EQ(readAtLeast(guest, 8), "welcome\n");
    EXPECT_EQ(eventsOf(guest.address()), (std::vector<RecordedEvent> { entered(guest.address()), arrived(guest.address(), "hi all") }));
    EXPECT_EQ(server->clientList(), (std::vector<std::string> { plain.address(), guest.address() }));

    EXPECT_TRUE(server->sendData(guest.address(), "notice", MessageKind::ServerText));
    EXPECT_TRUE(server->sendData(guest.address(), "relayed"));
    EXPECT_TRUE(server->sendData(plain.address(), "notice", MessageKind::ServerText));
    EXPECT_EQ(readAtLeast(guest, 14), "!noticerelayed");
    EXPECT_EQ(readAtLeast(plain, 6), "notice");

    guest.send("bye\n");
    ASSERT_TRUE(waitLeft(guest.address()));
    EXPECT_EQ(receivedFrom(guest.address()), "hi allbye\n");
    EXPECT_EQ(server->clientList(), std::vector<std::string> { plain.address() });
}

}
}
