// The descriptor limit reached: the server runs under a small RLIMIT_NOFILE and more clients
// come than it has descriptors for. Those it cannot take are dropped at once (it keeps the top
// of its descriptor table for itself, and a spare descriptor to take and drop a connection
// when the table is full), the ones it has keep being served, it does not spin on a listener
// that stays ready, and once clients leave it takes new ones again. The administrator's
// commands are answered all the while.
#include "ProgramRun.h"
#include "StressRoom.h"

#include <thread>

namespace {

// Qt, the sanitizers and the server itself (with the web entrance's listener and its spare)
// hold some fifteen descriptors before the first client, and the server keeps a quarter of the
// table free for itself: this leaves room for some twenty-five clients.
constexpr rlim_t kDescriptorLimit = 52;
constexpr int kClientsTried = 60;
constexpr int kExtraPending = 8;
constexpr double kIdleCpuLimitSeconds = 0.5;

class DescriptorLimit : public StressRoom {
protected:
    void prepareServer(ServerProcess& process) override
    {
        StressRoom::prepareServer(process);
        process.setDescriptorLimit(kDescriptorLimit);
    }

    // Connects a client and finds out whether the server took it: a client it took gets its
    // own line back (as do the clients taken before it); one it dropped sees its connection end.
    bool admitted(LoopbackClient& client, const std::vector<LoopbackClient*>& inRoom, int number)
    {
        std::string line = "<client " + std::to_string(number) + ">";
        client.send(line);
        std::string heard = client.readExactly(line.size());
        if (heard.empty() && client.hasEnded())
            return false;
        EXPECT_EQ(heard, line) << "client " << number << " neither admitted nor dropped";
        for (LoopbackClient* other : inRoom)
            expectReceives(*other, line);
        return true;
    }

    // Connects clients until the server drops one; returns those it took.
    std::vector<LoopbackClient*> fillRoom()
    {
        std::vector<LoopbackClient*> inRoom;
        int dropped = 0;
        for (int i = 0; i < kClientsTried; ++i) {
            LoopbackClient& client = connectClient();
            if (admitted(client, inRoom, i)) {
                EXPECT_EQ(dropped, 0) << "client " << i << " was taken after an earlier one was dropped";
                inRoom.push_back(&client);
            } else {
                ++dropped;
                client.close();
            }
            if (HasFailure())
                break;
        }
        EXPECT_GE(inRoom.size(), 20u);
        EXPECT_GT(dropped, 0) << "the limit was never reached";
        return inRoom;
    }
};

TEST_F(DescriptorLimit, FullTableDropsNewcomersAndServesTheRoom)
{
    startServer();
    ASSERT_EQ(descriptorLimit(serverPid()), kDescriptorLimit);
    std::vector<LoopbackClient*> inRoom = fillRoom();
    ASSERT_FALSE(HasFailure());

    // More connections wait at the listener, without a word. The server drops them too and
    // then sits idle: its CPU time over two seconds stays small.
    std::vector<LoopbackClient> waiting(kExtraPending);
    for (LoopbackClient& client : waiting)
        client.connect(ServerProcess::kPort);
    for (LoopbackClient& client : waiting) {
        client.readToEnd();
        EXPECT_TRUE(client.hasEnded()) << "a connection beyond the limit was left hanging";
    }
    double cpuBefore = cpuSeconds(serverPid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double idleCpu = cpuSeconds(serverPid()) - cpuBefore;
    EXPECT_LT(idleCpu, kIdleCpuLimitSeconds) << "the server spins at its descriptor limit";

    // The room is served as before.
    syncByProbe(*inRoom.front());

    // Three leave: their descriptors let three newcomers in.
    for (int i = 0; i < 3; ++i) {
        std::string address = inRoom.back()->address();
        inRoom.back()->close();
        inRoom.pop_back();
        for (LoopbackClient* client : inRoom)
            expectReceives(*client, leaveNotice(true, address));
    }
    for (int i = 0; i < 3; ++i) {
        LoopbackClient& client = connectClient();
        ASSERT_TRUE(admitted(client, inRoom, kClientsTried + i)) << "no room for a newcomer after a leave";
        inRoom.push_back(&client);
    }
    syncByProbe(*inRoom.back());
}

// With every descriptor for clients spent, the administrator still lists the room and kicks a
// client, one command after the other.
TEST_F(DescriptorLimit, TheAdministratorIsAnsweredWithTheTableFull)
{
    startServer();
    std::vector<LoopbackClient*> inRoom = fillRoom();
    ASSERT_FALSE(HasFailure());

    std::string roster;
    for (LoopbackClient* client : inRoom)
        roster += client->address() + "\n";
    CommandResult list = admin({ "list" });
    EXPECT_EQ(list.status, 0) << list.error;
    EXPECT_EQ(list.output, roster);

    LoopbackClient& kicked = *inRoom.front();
    std::string address = kicked.address();
    CommandResult kick = admin({ "kick", address });
    EXPECT_EQ(kick.status, 0) << kick.error;
    EXPECT_EQ(kicked.readToEnd(), continuedForm(kAdministrator, kKickBody));
    kicked.close();
    expectAllReceive(leaveNotice(true, address));
    syncByProbe(*inRoom.back());
}

} // namespace
