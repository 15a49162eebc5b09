// The fixture of the service tests: the real console with the service's own handler table and
// a fresh service state, its server on a free port, and chat clients on loopback. Streams are
// checked whole: after the actions under test one client sends a sentinel, which the relay
// puts behind everything sent before it, so each client's stream must be exactly what the test
// expects followed by the sentinel.
#pragma once

#include "app/ApplicationEntry.h"
#include "app/Handlers.h"
#include "app/ServiceState.h"
#include "app/LoopbackClient.h"
#include "console/ConsoleTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace app_test {

using namespace console_test;

inline constexpr std::string_view kSentinel = "<sentinel>";

class Room : public ::testing::Test {
protected:
    void SetUp() override
    {
        createServiceState();
        registerServiceHandlers();
        m_port = loadConsoleOnFreePort();
        ASSERT_NE(m_port, 0) << "the console could not be loaded";
        // The robot stays silent, so that the relay is all the clients get.
        service().robotEnabled = 0;
    }

    void TearDown() override
    {
        EXPECT_FALSE(m_watchdog.tripped()) << "a pop-up stayed open until the watchdog closed it";
        closeConsole();
        m_clients.clear();
        releaseServiceState();
    }

    // Connects a client and waits until the room has it on the roster.
    LoopbackClient& connectClient()
    {
        int32_t before = itemCount(列表框1);
        m_clients.push_back(std::make_unique<LoopbackClient>(m_port));
        EXPECT_TRUE(pumpUntil([&] { return itemCount(列表框1) == before + 1; })) << "the room never listed the client";
        return *m_clients.back();
    }

    std::vector<std::string> roster() const
    {
        std::vector<std::string> texts;
        for (int32_t index = 0; index < itemCount(列表框1); ++index)
            texts.push_back(itemText(列表框1, index));
        return texts;
    }

    static bool waitForBytes(LoopbackClient& client, size_t count)
    {
        return pumpUntil([&] {
            client.drain();
            return client.received().size() >= count || client.ended();
        });
    }

    static bool waitForEnd(LoopbackClient& client)
    {
        return pumpUntil([&] {
            client.drain();
            return client.ended();
        });
    }

    // Waits until the client's stream ends with the sentinel.
    static bool waitForSentinel(LoopbackClient& client)
    {
        return pumpUntil([&] {
            client.drain();
            const std::string& got = client.received();
            return client.ended() || (got.size() >= kSentinel.size() && got.compare(got.size() - kSentinel.size(), kSentinel.size(), kSentinel) == 0);
        });
    }

    // `sender` sends the sentinel; every listed client must then have received exactly its
    // expected bytes and the sentinel.
    void expectStreams(LoopbackClient& sender, const std::vector<std::pair<LoopbackClient*, std::string>>& expected)
    {
        ASSERT_TRUE(sender.send(kSentinel));
        for (const auto& [client, bytes] : expected) {
            SCOPED_TRACE(client->address());
            EXPECT_TRUE(waitForSentinel(*client));
            EXPECT_EQ(client->received(), bytes + std::string(kSentinel));
        }
    }

    void select(int row) { rosterWidget()->setCurrentRow(row); }

    int m_port = 0;
    std::vector<std::unique_ptr<LoopbackClient>> m_clients;
    PopupWatchdog m_watchdog;
};

inline std::string leaveNotice(bool continued, const std::string& leaver)
{
    return std::string(continued ? "\r\n\r\n管理员\r\n" : "管理员\r\n") + leaver + "离开聊天室！";
}

} // namespace app_test
