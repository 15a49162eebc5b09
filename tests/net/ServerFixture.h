// The common ground of the server component tests: a loop (TestLoop.h), a component on a free port
// whose events are recorded with the client and data they carried, and questions about that
// record. A test can add behaviour to the event handler through `onEvent`. The suites run
// twice: on a loop without rounds, and with CHATROOM_TEST_ROUNDS set on one with rounds, where
// the component gathers what its handlers send.
#pragma once

#include "net/TcpServer.h"
#include "net/TestLoop.h"
#include "support/LocalPorts.h"
#include "support/LoopbackClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace net_test {

using namespace test_support;

struct RecordedEvent {
    TcpServer::Event event;
    std::string client;
    std::string data;
    bool operator==(const RecordedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RecordedEvent& e)
{
    static const char* const names[] = { "DataArrival", "ClientEntered", "ClientLeft" };
    return out << names[e.event] << "(" << e.client << ", " << e.data.size() << " bytes)";
}

inline RecordedEvent entered(const std::string& client) { return { TcpServer::ClientEntered, client, {} }; }
inline RecordedEvent arrived(const std::string& client, std::string data) { return { TcpServer::DataArrival, client, std::move(data) }; }
inline RecordedEvent left(const std::string& client) { return { TcpServer::ClientLeft, client, {} }; }

class ServerFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        server.reset();
        EXPECT_EQ(loop.destroyedWhileRunning(), 0) << "a watcher was destroyed inside its own callback";
        EXPECT_EQ(loop.invalidDescriptors(), 0) << "a watcher stayed enabled on a closed descriptor";
        EXPECT_EQ(loop.liveWatchers(), 0u) << "the component left watchers behind";
    }

    void startServer(int onPort = 0)
    {
        port = onPort ? onPort : freeTcpPort();
        server = std::make_unique<TcpServer>(loop, [this](TcpServer::Event event) { record(event); }, port);
    }

    void record(TcpServer::Event event)
    {
        events.push_back({ event, server->getClient(), server->getData().bytes });
        if (onEvent)
            onEvent(event);
    }

    // The handler of `event` disconnects the client whose event it is.
    void disconnectFromTheHandlerOf(TcpServer::Event event)
    {
        onEvent = [this, event](TcpServer::Event raised) {
            if (raised == event)
                server->disconnectClient(server->getClient());
        };
    }

    size_t count(TcpServer::Event event, const std::string& client) const
    {
        return static_cast<size_t>(std::ranges::count_if(events, [&](const RecordedEvent& e) { return e.event == event && e.client == client; }));
    }

    // Everything that arrived from one client, in order.
    std::string receivedFrom(const std::string& client) const
    {
        std::string bytes;
        for (const auto& e : events) {
            if (e.event == TcpServer::DataArrival && e.client == client)
                bytes += e.data;
        }
        return bytes;
    }

    std::vector<RecordedEvent> eventsOf(const std::string& client) const
    {
        std::vector<RecordedEvent> mine;
        std::ranges::copy_if(events, std::back_inserter(mine), [&](const RecordedEvent& e) { return e.client == client; });
        return mine;
    }

    bool waitEntered(const LoopbackClient& client)
    {
        return loop.runUntil([&] { return count(TcpServer::ClientEntered, client.address()) > 0; });
    }

    bool waitLeft(const std::string& client)
    {
        return loop.runUntil([&] { return count(TcpServer::ClientLeft, client) > 0; });
    }

    bool waitReceived(const std::string& client, size_t bytes)
    {
        return loop.runUntil([&] { return receivedFrom(client).size() >= bytes; });
    }

    TestLoop loop { std::getenv("CHATROOM_TEST_ROUNDS") != nullptr };
    int port = 0;
    std::vector<RecordedEvent> events;
    std::function<void(TcpServer::Event)> onEvent;
    std::unique_ptr<TcpServer> server;
};

// A component already listening on a free port.
class ListeningServerFixture : public ServerFixture {
protected:
    void SetUp() override
    {
        startServer();
        ASSERT_TRUE(server->isListening());
    }
};

}
