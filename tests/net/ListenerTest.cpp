// The server component's listener and its lifetime: a port already taken, changing the port while
// clients stay connected, input left alone while there is no listener, a full descriptor
// table, and destruction, which closes every client without events but after what was sent.
#include "net/ServerFixture.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

namespace net_test {
namespace {

using Events = std::vector<RecordedEvent>;
using ListenerTest = ServerFixture;

size_t lineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST_F(ListenerTest, PortTakenAtStartLeavesNoListenerAndSaysWhy)
{
    PortHolder holder;
    testing::internal::CaptureStderr();
    startServer(holder.port());
    std::string said = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(server->isListening());
    EXPECT_EQ(server->port(), holder.port());
    // The component only says why; telling the administrator is the service's part.
    EXPECT_EQ(said, "");
    EXPECT_EQ(server->listenFailure(), "Address already in use");
    EXPECT_FALSE(server->sendData("127.0.0.1:5000", "x"));
    server->disconnectClient("127.0.0.1:5000");
    EXPECT_EQ(loop.runRounds(3), 0);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(server->clientList().empty());
}

TEST_F(ListenerTest, PortValuesOfZeroOrLessAreStoredAsOne)
{
    startServer();
    testing::internal::CaptureStderr();
    const int32_t written[] = { 0, -1, INT32_MIN };
    for (int32_t value : written) {
        server->setPort(value);
        EXPECT_EQ(server->port(), 1) << value;
    }
    // Only the first write changed the port, so at most one attempt was reported.
    EXPECT_LE(lineCount(testing::internal::GetCapturedStderr()), 1u);
}

TEST_F(ListenerTest, NewPortListensThereAndKeepsTheClients)
{
    startServer();
    int oldPort = port;
    LoopbackClient a(oldPort);
    ASSERT_TRUE(waitEntered(a));

    // Only the low 16 bits of the port are bound.
    int newPort = freeTcpPort();
    server->setPort(newPort + 65536);
    EXPECT_EQ(server->port(), newPort + 65536);
    ASSERT_TRUE(server->isListening());

    LoopbackClient b(newPort);
    ASSERT_TRUE(b.isOpen());
    ASSERT_TRUE(waitEntered(b));
    LoopbackClient stale;
    EXPECT_FALSE(stale.tryConnect(oldPort));

    EXPECT_EQ(server->clientList(), (std::vector<std::string> { a.address(), b.address() }));
    ASSERT_TRUE(a.trySend("still here"));
    ASSERT_TRUE(waitReceived(a.address(), 10));
    EXPECT_TRUE(server->sendData(a.address(), "welcome back"));
    EXPECT_EQ(a.readExactly(12), "welcome back");
}

TEST_F(ListenerTest, WritingTheSamePortKeepsTheListener)
{
    startServer();
    // Connected but not yet accepted: a reopened listener would reset this connection.
    LoopbackClient waiting(port);
    ASSERT_TRUE(waiting.isOpen());
    server->setPort(port);
    ASSERT_TRUE(waitEntered(waiting));
    EXPECT_TRUE(server->isListening());
}

// Without a listener a client's input is not read and its closure not reported, and the
// level-triggered loop must not spin on it meanwhile; listening again resumes the reading.
TEST_F(ListenerTest, InputWaitsWithoutSpinningWhileThereIsNoListener)
{
    startServer();
    LoopbackClient a(port);
    ASSERT_TRUE(waitEntered(a));

    PortHolder holder;
    testing::internal::CaptureStderr();
    server->setPort(holder.port());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(server->isListening());
    EXPECT_EQ(said, "");
    EXPECT_EQ(server->listenFailure(), "Address already in use");

    ASSERT_TRUE(a.trySend("held back"));
    long before = loop.callbacks();
    loop.runRounds(10);
    EXPECT_LE(loop.callbacks() - before, 1);
    EXPECT_EQ(events.size(), 1u);
    // Sending still works.
    EXPECT_TRUE(server->sendData(a.address(), "ping"));
    EXPECT_EQ(a.readExactly(4), "ping");

    server->setPort(freeTcpPort());
    ASSERT_TRUE(server->isListening());
    ASSERT_TRUE(waitReceived(a.address(), 9));
    EXPECT_EQ(receivedFrom(a.address()), "held back");
}

// A POSIX process has a table of descriptors that can fill up; Windows has no such table.
#ifndef _WIN32
// Lowers the descriptor limit so that every descriptor below it is in use, and restores
// everything on destruction.
class FullDescriptorTable {
public:
    FullDescriptorTable()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
        close(probe);
        rlimit lowered = m_saved;
        lowered.rlim_cur = static_cast<rlim_t>(probe + 4);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int i = 0; i < 64; ++i) {
            int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                break;
            m_fillers.push_back(fd);
        }
    }
    ~FullDescriptorTable()
    {
        for (int fd : m_fillers)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    bool full() const
    {
        int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errno == EMFILE;
        close(fd);
        return false;
    }

private:
    rlimit m_saved {};
    std::vector<int> m_fillers;
};

TEST_F(ListenerTest, FullDescriptorTableDropsTheConnectionWithoutSpinning)
{
    startServer();
    LoopbackClient refused(port);
    ASSERT_TRUE(refused.isOpen());
    long before = 0;
    long during = 0;
    {
        FullDescriptorTable table;
        ASSERT_TRUE(table.full());
        before = loop.callbacks();
        loop.runRounds(10);
        during = loop.callbacks() - before;
    }
    EXPECT_LE(during, 2);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(refused.readToEnd(), "");
    EXPECT_TRUE(refused.hasEnded());

    // With descriptors free again the server accepts as before.
    LoopbackClient welcome(port);
    ASSERT_TRUE(waitEntered(welcome));
    EXPECT_EQ(server->clientList(), std::vector<std::string> { welcome.address() });
}
#endif

TEST_F(ListenerTest, DestructionClosesClientsWithoutEventsAfterWhatWasSent)
{
    startServer();
    LoopbackClient a(port), b(port);
    ASSERT_TRUE(waitEntered(a));
    ASSERT_TRUE(waitEntered(b));
    // a has sent data the server never reads; closing must still be an orderly end.
    ASSERT_TRUE(a.trySend(std::string(20000, 'u')));
    ASSERT_TRUE(server->sendData(a.address(), "the room is dissolved"));
    ASSERT_TRUE(server->sendData(b.address(), "the room is dissolved"));
    size_t before = events.size();

    server.reset();
    EXPECT_EQ(events.size(), before);
    for (LoopbackClient* client : { &a, &b }) {
        EXPECT_EQ(client->readToEnd(), "the room is dissolved");
        EXPECT_TRUE(client->endedCleanly());
    }
}

}
}
