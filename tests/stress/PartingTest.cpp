// How a connection ends when it is behind: the kick notice reaches a client whose queue is at
// its cap, a kicked client that does not read is closed within the close deadline although the
// room is quiet, and a browser that sends pings without reading is held at its cap like any
// other delivery.
#include "StressRoom.h"

#include "support/ClientFrames.h"

#include <future>
#include <utility>

namespace {

constexpr size_t kPiece = 1024 * 1024;
// One piece more than the server's queue for one client holds.
constexpr size_t kPiecesPastTheCap = 9;
// Far above the one-second close deadline.
constexpr auto kCloseBound = std::chrono::seconds(6);
// Several times the per-client cap, in pings of the largest control payload.
constexpr size_t kPingBytes = 40 * 1024 * 1024;
constexpr size_t kPingPayload = 125;
constexpr size_t kPingsPerWrite = 512;
// The cap of 8 MiB and the allocator's and sanitizer's slack, far below the pings' 40 MiB.
constexpr size_t kResidentGrowthLimitKiB = 20 * 1024;

// The program's open sockets (its other descriptors, such as a timer, come and go).
size_t openSocketCount(pid_t pid)
{
    std::string descriptors = describeDescriptors(pid);
    size_t count = 0;
    for (size_t at = descriptors.find("socket:"); at != std::string::npos; at = descriptors.find("socket:", at + 1))
        ++count;
    return count;
}

class Parting : public StressRoom {
protected:
    // `stalled` (small receive buffer, reading nothing from here on) ends with its queue at the
    // server's cap: it has missed the last piece.
    void fillQueueToCap(LoopbackClient& sender, LoopbackClient& stalled)
    {
        fillConnection(sender, stalled);
        const std::string piece(kPiece, 'q');
        for (size_t i = 0; i < kPiecesPastTheCap; ++i)
            expectAllReceiveAtOnce(piece, { &stalled }, [&] { sender.send(piece); });
    }

    // A room of a sender, a client that stalls with its queue at the cap, and an observer; the
    // stalled client is second, so a browser where every second client is one.
    std::pair<LoopbackClient&, LoopbackClient&> startWithAStalledClientAtItsCap()
    {
        startServer();
        LoopbackClient& sender = connectClient();
        LoopbackClient& stalled = connectClient({ .receiveBuffer = kSmallReceiveBuffer });
        LoopbackClient& observer = connectClient();
        syncByProbe(sender);
        fillQueueToCap(sender, stalled);
        return { stalled, observer };
    }

    // The administrator kicks `kicked` from another thread; returns once `observer` has read
    // its leave notice, that is, once the kick has happened.
    std::future<CommandResult> kickAndWait(LoopbackClient& kicked, LoopbackClient& observer)
    {
        std::string address = kicked.address();
        auto kick = std::async(std::launch::async, [this, address] { return admin({ "kick", address }); });
        expectReceives(observer, leaveNotice(true, address));
        return kick;
    }
};

TEST_F(Parting, TheKickNoticeGetsThroughAFullQueue)
{
    auto [stalled, observer] = startWithAStalledClientAtItsCap();

    std::future<CommandResult> kick = kickAndWait(stalled, observer);
    std::string owed = stalled.readToEnd();
    EXPECT_EQ(kick.get().status, 0);
    EXPECT_TRUE(owed.ends_with(continuedForm(kAdministrator, kKickBody))) << "the last of " << owed.size() << " bytes: " << owed.substr(owed.size() - std::min<size_t>(owed.size(), 40));
    // What came before it is whole pieces of the filler, dropped whole if at all.
    EXPECT_EQ((owed.size() - continuedForm(kAdministrator, kKickBody).size()) % kPiece, 0u);
}

TEST_F(Parting, AKickedNonReaderIsClosedOnTimeInAQuietRoom)
{
    auto [stalled, observer] = startWithAStalledClientAtItsCap();
    size_t withStalled = openSocketCount(serverPid());

    std::future<CommandResult> kick = kickAndWait(stalled, observer);
    EXPECT_EQ(kick.get().status, 0);
    // Nobody sends anything: only the deadline can close the connection.
    auto giveUp = std::chrono::steady_clock::now() + kCloseBound;
    while (openSocketCount(serverPid()) >= withStalled && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(openSocketCount(serverPid()), withStalled) << describeDescriptors(serverPid());
}

TEST_F(Parting, PingsWithoutReadingAreHeldAtTheCap)
{
    measureMemory();
    startServer();
    LoopbackClient& tcp = connectClient();
    // Its own frames: the suite's browser would wrap every send in a binary frame.
    LoopbackClient browser(ServerProcess::kWebPort, { .receiveBuffer = kSmallReceiveBuffer });
    browser.send("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    ASSERT_TRUE(browser.readSome(LoopbackClient::kDefaultWaitMs).starts_with("HTTP/1.1 101 "));
    syncByProbe(tcp);
    size_t residentBefore = residentKiB(serverPid());

    std::string pings;
    for (size_t i = 0; i < kPingsPerWrite; ++i)
        pings += test_support::encodeClientFrame({ 0x9, std::string(kPingPayload, 'p') });
    size_t residentPeak = 0;
    for (size_t sent = 0; sent < kPingBytes && browser.trySend(pings); sent += pings.size())
        residentPeak = std::max(residentPeak, residentKiB(serverPid()));
    // The room goes on, and its memory did not follow the pings.
    tcp.send(kProbe);
    expectReceives(tcp, std::string(kProbe));
    residentPeak = std::max(residentPeak, residentKiB(serverPid()));
    EXPECT_LE(residentPeak, residentBefore + kResidentGrowthLimitKiB) << "resident KiB before " << residentBefore;
}

} // namespace
