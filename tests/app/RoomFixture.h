// The fixture of the service tests: the real console with the service's own handler table and
// a fresh service state on the target system's value store and files, its server on a free
// port, and chat clients on loopback. Streams are checked whole: after the actions under test
// one client sends a sentinel, which the relay puts behind everything sent before it, so each
// client's stream must be exactly what the test expects followed by the sentinel.
#pragma once

#include "app/ApplicationEntry.h"
#include "app/Handlers.h"
#include "app/ServiceState.h"
#include "console/QtConsoleDriver.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixValueStore.h"
#include "support/LoopbackClient.h"
#include "support/NoticeTexts.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace app_test {

using namespace console_test;
using namespace test_support;

inline constexpr std::string_view kSentinel = "<sentinel>";

class Room : public ::testing::Test {
protected:
    void SetUp() override
    {
        createServiceState(m_store, m_files);
        registerServiceHandlers();
        m_port = loadConsoleOnFreePort();
        ASSERT_NE(m_port, 0) << "the console could not be loaded";
        // The robot stays silent, so that the relay is all the clients get.
        service().robotEnabled = 0;
    }

    void TearDown() override
    {
        EXPECT_FALSE(m_watchdog.tripped()) << "a pop-up stayed open until the watchdog closed it";
        QtConsoleDriver::close();
        m_clients.clear();
        releaseServiceState();
    }

    // Connects a client and waits until the room has it on the roster.
    LoopbackClient& connectClient()
    {
        int32_t before = itemCount(列表框1);
        m_clients.push_back(std::make_unique<LoopbackClient>(static_cast<uint16_t>(m_port)));
        EXPECT_TRUE(pumpUntil([&] { return itemCount(列表框1) == before + 1; })) << "the room never listed the client";
        return *m_clients.back();
    }
    // `N` of them, in order, as references to unpack by name: auto [a, b] = connectClients<2>();
    template<size_t N>
    auto connectClients()
    {
        std::vector<LoopbackClient*> clients;
        for (size_t i = 0; i < N; ++i)
            clients.push_back(&connectClient());
        return byName<N>(clients);
    }

    // The clients only take in what has arrived, never wait for it: the room runs on this
    // thread, in the loop that pumpUntil runs. Nothing is read off a client's unread bytes, so
    // they are everything it has been sent. Each wait also ends when the client's stream does.
    static bool waitUntilEndedOr(LoopbackClient& client, const std::function<bool()>& enough)
    {
        return pumpUntil([&] {
            client.receivePending();
            return client.hasEnded() || enough();
        });
    }
    static bool waitForBytes(LoopbackClient& client, size_t count) { return waitUntilEndedOr(client, [&] { return client.unread().size() >= count; }); }
    static bool waitForEnd(LoopbackClient& client) { return waitUntilEndedOr(client, [] { return false; }); }
    // Waits until the client's stream ends with the sentinel.
    static bool waitForSentinel(LoopbackClient& client) { return waitUntilEndedOr(client, [&] { return client.unread().ends_with(kSentinel); }); }

    // `sender` sends the sentinel; every listed client must then have received exactly its
    // expected bytes and the sentinel.
    void expectStreams(LoopbackClient& sender, const std::vector<std::pair<LoopbackClient*, std::string>>& expected)
    {
        ASSERT_TRUE(sender.trySend(kSentinel));
        for (const auto& [client, bytes] : expected) {
            SCOPED_TRACE(client->address());
            EXPECT_TRUE(waitForSentinel(*client));
            EXPECT_EQ(client->unread(), bytes + std::string(kSentinel));
        }
    }

    void select(int row) { rosterWidget()->setCurrentRow(row); }

    // Opened only by the tests that vote, each in a configuration home of its own.
    PosixValueStore m_store;
    PosixFiles m_files;
    int m_port = 0;
    std::vector<std::unique_ptr<LoopbackClient>> m_clients;
    QtConsoleDriver::PopupWatchdog m_watchdog;
};

} // namespace app_test
