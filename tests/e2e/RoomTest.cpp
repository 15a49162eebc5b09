// The end-to-end fixture (see RoomTest.h).
#include "RoomTest.h"

#include <cstdlib>

#include <fstream>

namespace {
// Taken when the kernel's limits cannot be read: its usual tcp_wmem maximum.
constexpr size_t kUsualLargestSendBuffer = 4 * 1024 * 1024;
}

void RoomTest::TearDown()
{
    if (m_server && m_server->isRunning()) {
        int status = m_server->stop();
        EXPECT_EQ(status, 0) << "standard error of the server:\n" << m_server->standardError();
    }
    m_clients.clear();
    m_server.reset();
    m_configHome.reset();
    m_runtimeDirectory.reset();
}

void RoomTest::startServer(const std::optional<std::string>& replyIni)
{
    m_configHome = std::make_unique<TempDirectory>("chatroom-e2e-config");
    m_runtimeDirectory = std::make_unique<TempDirectory>("chatroom-e2e-runtime");
    m_replyIni = replyIni;
    startNewServer();
}

void RoomTest::startNewServer()
{
    m_server = std::make_unique<ServerProcess>(m_replyIni, m_configHome->path());
    m_server->setEnvironmentVariable("XDG_RUNTIME_DIR", m_runtimeDirectory->path());
    prepareServer(*m_server);
    m_server->start();
}

void RoomTest::restartServer()
{
    if (m_server->isRunning()) {
        int status = m_server->stop();
        EXPECT_EQ(status, 0) << "standard error of the server:\n" << m_server->standardError();
    }
    m_clients.clear();
    startNewServer();
}

LoopbackClient& RoomTest::connectClient(const LoopbackClient::ConnectOptions& options)
{
    // With CHATROOM_E2E_WEB_CLIENTS set, every second client joins through the web entrance,
    // so that the suites run on a room of TCP clients and browsers alike.
    static const bool mixInWebClients = std::getenv("CHATROOM_E2E_WEB_CLIENTS") != nullptr;
    LoopbackClient::ConnectOptions chosen = options;
    chosen.webSocket = options.webSocket || (mixInWebClients && m_clients.size() % 2 == 1);
    uint16_t port = chosen.webSocket ? ServerProcess::kWebPort : ServerProcess::kPort;
    m_clients.push_back(std::make_unique<LoopbackClient>(port, chosen));
    return *m_clients.back();
}

std::vector<LoopbackClient*> RoomTest::connectClients(int count, const LoopbackClient::ConnectOptions& options)
{
    std::vector<LoopbackClient*> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(&connectClient(options));
    return clients;
}

std::vector<LoopbackClient*> RoomTest::connectRoom(int count, const LoopbackClient::ConnectOptions& options)
{
    std::vector<LoopbackClient*> room = connectClients(count, options);
    syncByProbe(*room.back());
    return room;
}

std::vector<LoopbackClient*> RoomTest::openClients() const
{
    std::vector<LoopbackClient*> open;
    for (const auto& client : m_clients) {
        if (client->isOpen())
            open.push_back(client.get());
    }
    return open;
}

void RoomTest::syncByProbe(LoopbackClient& sender)
{
    sender.send(kProbe);
    expectAllReceive(std::string(kProbe));
}

void RoomTest::syncByPassingClient(bool afterData)
{
    LoopbackClient passing(ServerProcess::kPort);
    closeAndExpectLeaveNotice(passing, afterData);
}

void RoomTest::expectReceives(LoopbackClient& client, const std::string& expected)
{
    EXPECT_EQ(client.readExactly(expected.size()), expected) << "received by " << client.address();
}

void RoomTest::expectAllReceive(const std::string& expected)
{
    for (LoopbackClient* client : openClients())
        expectReceives(*client, expected);
}

void RoomTest::expectOthersReceive(const LoopbackClient& except, const std::string& expected)
{
    for (LoopbackClient* client : openClients()) {
        if (client != &except)
            expectReceives(*client, expected);
    }
}

void RoomTest::closeAndExpectLeaveNotice(LoopbackClient& leaver, bool continued)
{
    std::string address = leaver.address();
    leaver.close();
    expectAllReceive(leaveNotice(continued, address));
}

size_t RoomTest::largestSendBuffer()
{
    std::ifstream limits("/proc/sys/net/ipv4/tcp_wmem");
    size_t least = 0, initial = 0, most = 0;
    limits >> least >> initial >> most;
    return most > 0 ? most : kUsualLargestSendBuffer;
}
