// Clients that connect and never read, as a prankster's or laptops asleep on the Wi-Fi: the
// room goes on without waiting for them, and closing the room waits one deadline for all of
// them together. The bounds below are stall checks, far above what a healthy relay takes and
// far below the seconds per line that waiting on each frozen reader used to cost. With the
// total of all queues at its cap, the clients that take nothing give way to those that read.
#include "BytePattern.h"
#include "StressRoom.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int kFrozenReaders = 10;
constexpr int kLines = 20;
// A line between two healthy clients must arrive within this, every time. Waiting on the
// frozen readers would cost a line about ten seconds (a second each); a sanitized build on a
// machine whose cores are busy with other work was seen to take over half a second for a
// healthy line now and then, so the bound sits between the two.
constexpr int kStallLimitMs = 2000;
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
    auto [alice, bob] = connectClients<2>();
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
    auto [alice, bob] = connectClients<2>();
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

// The total cap made small (the program takes it from the environment for tests) and reached
// by clients that never read: the readers still get every piece, whole and in order, and the
// frozen ones leave with the leave notice instead.
class TotalCap : public StressRoom {
protected:
    static constexpr size_t kTotalCap = 1024 * 1024;
    static constexpr size_t kPiece = 64 * 1024;
    static constexpr int kFrozen = 3;
    static constexpr int kReadWaitMs = 10000;

    void prepareServer(ServerProcess& process) override
    {
        StressRoom::prepareServer(process);
        process.setEnvironmentVariable("CHATROOM_TEST_TOTAL_QUEUE_CAP", std::to_string(kTotalCap));
    }

    // What a reader heard, the given notices taken out as they come whole; `found` counts them.
    struct Hearing {
        LoopbackClient* client;
        const std::vector<std::string>* notices;
        std::string content;
        std::string recent; // may still hold the start of a notice
        size_t found = 0;

        size_t size() const { return content.size() + recent.size(); }
        bool hearMore()
        {
            std::string more = client->readSome(kReadWaitMs);
            recent += more;
            size_t longest = 0;
            for (const std::string& notice : *notices) {
                longest = std::max(longest, notice.size());
                if (size_t at = recent.find(notice); at != std::string::npos) {
                    recent.erase(at, notice.size());
                    ++found;
                }
            }
            if (recent.size() >= longest) {
                size_t settled = recent.size() - (longest - 1);
                content.append(recent, 0, settled);
                recent.erase(0, settled);
            }
            return !more.empty();
        }
    };
};

TEST_F(TotalCap, ReadersKeepEveryPieceAndTheFrozenLeave)
{
    startServer();
    std::vector<LoopbackClient*> frozen = connectClients(kFrozen, { .receiveBuffer = kSmallReceiveBuffer });
    auto [alice, bob] = connectClients<2>();
    syncByProbe(alice);
    std::vector<std::string> notices;
    for (LoopbackClient* client : frozen)
        notices.push_back(leaveNotice(true, client->address()));

    // Distinct pieces, far more than the frozen connections and the cap hold; the readers take
    // each piece before the next is sent, as chat clients keep pace.
    BytePattern pattern("abcdefghijklmnopqrstuvwxyz");
    const size_t total = ((largestSendBuffer() + 4 * kTotalCap) / kPiece + 1) * kPiece;
    Hearing readers[] = { { &alice, &notices, {}, {}, 0 }, { &bob, &notices, {}, {}, 0 } };
    for (size_t sent = 0; sent < total && !HasFailure();) {
        alice.send(pattern.slice(sent, kPiece));
        sent += kPiece;
        for (Hearing& reader : readers) {
            while (reader.size() < sent && !HasFailure())
                EXPECT_TRUE(reader.hearMore()) << reader.client->address() << " stopped hearing at " << reader.size();
        }
    }
    for (Hearing& reader : readers) {
        while ((reader.found < notices.size() || reader.size() < total) && !HasFailure())
            EXPECT_TRUE(reader.hearMore()) << reader.client->address() << " heard " << reader.found << " of the frozen clients leave";
        std::string content = reader.content + reader.recent;
        EXPECT_EQ(content.size(), total) << reader.client->address();
        EXPECT_TRUE(content == pattern.slice(0, total)) << reader.client->address() << " missed or garbled a piece";
    }
    for (LoopbackClient* client : frozen)
        client->close();
    syncByProbe(bob);
}

} // namespace
