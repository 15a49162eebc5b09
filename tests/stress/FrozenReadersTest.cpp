// Clients that connect and never read, as a prankster's or laptops asleep on the Wi-Fi: the
// room goes on without waiting for them, and closing the room waits one deadline for all of
// them together. The bounds below are stall checks, far above what a healthy relay takes and
// far below the seconds per line that waiting on each frozen reader used to cost.
#include "StressRoom.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int kFrozenReaders = 10;
constexpr int kLines = 20;
// A line between two healthy clients must arrive within this, every time.
constexpr int kStallLimitMs = 500;
// Closing may wait one shared deadline (about a second) for the frozen readers, not one each.
constexpr auto kCloseLimit = std::chrono::seconds(5);

class FrozenReaders : public StressRoom {
protected:
    // Ten clients with small receive buffers whose connections, and then their queues, are
    // filled by a large relay that everybody else reads. The frozen ones never read again,
    // not even each other's fill: a reader with a small window could fall behind a fast
    // sender by more than its queue holds and have a relay dropped.
    std::vector<const LoopbackClient*> freezeReaders(LoopbackClient& sender)
    {
        std::vector<const LoopbackClient*> frozen;
        for (int i = 0; i < kFrozenReaders; ++i)
            frozen.push_back(&connectClient({ .receiveBuffer = kSmallReceiveBuffer }));
        syncByProbe(sender);
        fillConnections(sender, frozen);
        return frozen;
    }
};

TEST_F(FrozenReaders, DoNotDelayALineBetweenTwoOthers)
{
    startServer();
    LoopbackClient& alice = connectClient();
    LoopbackClient& bob = connectClient();
    freezeReaders(alice);
    for (int n = 0; n < kLines; ++n) {
        std::string line = "~line " + std::to_string(n) + "~";
        alice.send(line);
        EXPECT_EQ(bob.readExactly(line.size(), kStallLimitMs), line) << "line " << n << " was held up";
        EXPECT_EQ(alice.readExactly(line.size(), kStallLimitMs), line) << "the sender's copy of line " << n << " was held up";
    }
}

TEST_F(FrozenReaders, TheCloseTellsTheOthersAndTakesOneDeadline)
{
    startServer();
    LoopbackClient& alice = connectClient();
    LoopbackClient& bob = connectClient();
    freezeReaders(alice);
    auto asked = std::chrono::steady_clock::now();
    server().requestClose();
    for (LoopbackClient* client : { &alice, &bob }) {
        EXPECT_EQ(client->readToEnd(), dissolutionNotice(true)) << client->address();
        EXPECT_TRUE(client->endedCleanly());
    }
    EXPECT_EQ(server().waitForExit(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, kCloseLimit);
}

} // namespace
