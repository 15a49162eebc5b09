// The end-to-end fixture (see RoomTest.h).
#include "RoomTest.h"

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

TestClient& RoomTest::connectClient(const std::set<uint16_t>& avoidPorts, int receiveBuffer)
{
    auto client = std::make_unique<TestClient>();
    client->connect(avoidPorts, receiveBuffer);
    m_clients.push_back(std::move(client));
    return *m_clients.back();
}

std::vector<TestClient*> RoomTest::openClients() const
{
    std::vector<TestClient*> open;
    for (const auto& client : m_clients) {
        if (client->isOpen())
            open.push_back(client.get());
    }
    return open;
}

void RoomTest::syncByProbe(TestClient& sender)
{
    sender.send(kProbe);
    expectAllReceive(std::string(kProbe));
}

void RoomTest::syncByPassingClient(bool afterData)
{
    std::vector<TestClient*> waiting = openClients();
    TestClient passing;
    passing.connect();
    std::string address = passing.address();
    passing.close();
    for (TestClient* client : waiting)
        expectReceives(*client, leaveNotice(afterData, address));
}

void RoomTest::expectReceives(TestClient& client, const std::string& expected)
{
    EXPECT_EQ(client.readExactly(expected.size()), expected) << "received by " << client.address();
}

void RoomTest::expectAllReceive(const std::string& expected)
{
    for (TestClient* client : openClients())
        expectReceives(*client, expected);
}

void RoomTest::expectOthersReceive(const TestClient& except, const std::string& expected)
{
    for (TestClient* client : openClients()) {
        if (client != &except)
            expectReceives(*client, expected);
    }
}
