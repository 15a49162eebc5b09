// A client that stops reading. The server waits at most a second per message for its full
// connection, keeps at most one partial message for it and drops what does not fit, so: the
// healthy clients still receive everything, the server's memory stays bounded whatever the
// stalled client is owed, and once that client reads again it gets whole runs of the stream,
// in order, never a later message before the rest of an earlier one.
#include "BackgroundReader.h"
#include "InterleavedStream.h"
#include "StressRoom.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <thread>

namespace {

// Each relay carries at most 1 MiB: this is some fifty relays' worth.
constexpr uint64_t kStreamBytes = 48 * 1024 * 1024;
constexpr size_t kWrite = 64 * 1024;
// The first relays bring the server to its working size (a relay's data in a few copies, the
// allocator's caches, the stalled client's queue at its cap of 8 MiB); the most it holds
// during them is the measure for the rest. The queue starts to fill only once the kernel's
// buffers for that connection are full, and those take some 4 MiB on Linux and nearer 7 MiB
// for the Windows program under Wine, whose queue is at its cap only some 16 MiB into the
// stream: the warm-up has to outlast both.
constexpr uint64_t kWarmUpBytes = 20 * 1024 * 1024;
// Far below the 28 MiB that the rest of the stream would add if the server kept it for the
// stalled client; room for what waits for the healthy readers when they fall behind the
// sender (one copy shared by their queues; the kernel keeps little of a stream unsent).
constexpr size_t kResidentGrowthLimitKiB = 8 * 1024;
// Reads of the small receive buffer that take in more than the server's queue for one client
// (8 MiB) and the kernel's buffers hold.
constexpr int kMostOwedReads = 4000;
// How far the sender may be ahead of the slowest healthy reader: half that reader's queue cap.
constexpr uint64_t kMostAhead = 4 * 1024 * 1024;

class StalledReader : public StressRoom { };

TEST_F(StalledReader, OthersGetEverythingAndMemoryStaysBounded)
{
    measureMemory();
    startServer();
    auto [sender, first, second] = connectClients<3>();
    // A small receive buffer, so that its connection is full soon.
    LoopbackClient& stalled = connectClient({ .receiveBuffer = kSmallReceiveBuffer });
    syncByProbe(sender);

    // From here on the stalled client reads nothing.
    std::vector<LoopbackClient*> healthy { &sender, &first, &second };
    std::vector<std::unique_ptr<InterleavedStream>> streams;
    std::vector<std::unique_ptr<BackgroundReader>> readers;
    std::deque<std::atomic<uint64_t>> progress;
    for (LoopbackClient* client : healthy) {
        streams.push_back(std::make_unique<InterleavedStream>(letterPattern(), std::vector<std::string> {}));
        InterleavedStream& stream = *streams.back();
        std::atomic<uint64_t>& heard = progress.emplace_back(0);
        readers.push_back(std::make_unique<BackgroundReader>(
            *client,
            [&stream, &heard](std::string_view piece) {
                stream.feed(piece);
                heard = stream.patternBytes();
                return stream.failure().empty() && stream.patternBytes() < kStreamBytes;
            },
            std::chrono::minutes(2)));
    }
    // The sender keeps pace with the slowest healthy reader, as a chat client does: a reader
    // further behind than its queue's cap would miss a relay by design.
    auto keepPace = [&](uint64_t sent) {
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto slowest = [&] {
            uint64_t least = UINT64_MAX;
            for (const std::atomic<uint64_t>& heard : progress)
                least = std::min<uint64_t>(least, heard);
            return least;
        };
        while (sent > kMostAhead && slowest() < sent - kMostAhead && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    // The highest of samples taken as the stream goes, during the warm-up and after it.
    size_t residentWarm = 0;
    size_t residentPeak = 0;
    for (uint64_t sent = 0; sent < kStreamBytes; sent += kWrite) {
        keepPace(sent);
        sender.send(letterPattern().slice(sent, kWrite));
        if (sent % (256 * 1024) == 0) {
            size_t& peak = sent < kWarmUpBytes ? residentWarm : residentPeak;
            peak = std::max(peak, residentKiB(serverPid()));
        }
    }
    for (size_t i = 0; i < healthy.size(); ++i) {
        SCOPED_TRACE("received by " + healthy[i]->address());
        ASSERT_TRUE(readers[i]->waitUntilDone(std::chrono::minutes(2)));
        EXPECT_EQ(streams[i]->failure(), "");
        EXPECT_EQ(streams[i]->patternBytes(), kStreamBytes);
    }
    residentPeak = std::max(residentPeak, residentKiB(serverPid()));
    EXPECT_LE(residentPeak, residentWarm + kResidentGrowthLimitKiB)
        << "resident KiB after the warm-up " << residentWarm << ", at most " << residentPeak << " later";

    // The stalled client reads again: the probe comes after whatever it was still owed.
    readers.clear();
    sender.send(kProbe);
    for (LoopbackClient* client : healthy)
        expectReceives(*client, std::string(kProbe));
    std::string owed;
    for (int reads = 0; reads < kMostOwedReads && !owed.ends_with(kProbe); ++reads) {
        std::string piece = stalled.readSome(10000);
        if (piece.empty())
            break;
        owed += piece;
    }
    ASSERT_TRUE(owed.ends_with(kProbe)) << "the stalled client never got the probe";
    owed.resize(owed.size() - kProbe.size());
    ASSERT_LT(owed.size(), kStreamBytes) << "nothing was dropped: the server kept everything for it";

    // What it got is the stream in whole runs, each starting later than the last one ended:
    // no message before the rest of an earlier one, nothing twice. The first run is the
    // stream's beginning, which found its connection empty.
    uint64_t position = 0;
    std::string_view rest(owed);
    int runs = 0;
    while (!rest.empty()) {
        // Where this run starts: its first bytes occur once in the stream, at or after `position`.
        // A run is only as long as its messages, and while the client's queue was nearly full
        // only a short message fitted: when the first kKey bytes reach into the next run, half
        // as many are looked for, and so on.
        constexpr size_t kKey = 64;
        std::string streamFromHere = letterPattern().slice(position, size_t(kStreamBytes - position));
        size_t found = std::string::npos;
        for (size_t key = std::min(kKey, rest.size()); key > 0 && found == std::string::npos; key /= 2)
            found = streamFromHere.find(rest.substr(0, key));
        ASSERT_NE(found, std::string::npos) << "bytes that are not a later part of the stream, after run " << runs;
        if (runs == 0) {
            EXPECT_EQ(found, 0u) << "the stream's first bytes are missing";
        }
        position += found;
        size_t matched = letterPattern().matchingPrefix(position, rest.substr(0, size_t(kStreamBytes - position)));
        position += matched;
        rest.remove_prefix(matched);
        ++runs;
    }
}

} // namespace
