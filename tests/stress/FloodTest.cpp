// One client floods the room as fast as the server relays its bytes to the slowest reader
// (every client reads as fast as it can, so that nothing but the server sets the pace; a
// reader that fell further behind than its queue's cap would miss chunks by design). The
// others' lines must still get through while the flood goes on, and every stream must stay
// byte for byte: the flood's bytes in order with nothing lost, cut or repeated, and each line
// whole between two of its chunks.
#include "BackgroundReader.h"
#include "InterleavedStream.h"
#include "StressRoom.h"
#include "WineTarget.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOthers = 3;
constexpr int kLinesEach = 3;
// The flood goes on at least this long, and on until every line has come back.
constexpr auto kLeastFlood = std::chrono::seconds(3);
// Bounds: a server that starves the others fails here rather than running on.
constexpr auto kMostFlood = std::chrono::seconds(30);
constexpr uint64_t kMostFloodBytes = 4ULL * 1024 * 1024 * 1024;
constexpr auto kLineWait = std::chrono::seconds(20);

std::string otherLine(int client, int seq)
{
    return "<other " + std::to_string(client) + " line " + std::to_string(seq) + ">";
}

// Whether `condition` holds, looked at until it does or `wait` has passed.
bool waitFor(const std::function<bool()>& condition, Clock::duration wait)
{
    auto end = Clock::now() + wait;
    while (!condition() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

class Flood : public StressRoom { };

TEST_F(Flood, OthersGetThroughWhileOneClientFloods)
{
    startServer();
    LoopbackClient& flooder = connectClient();
    std::vector<LoopbackClient*> others = connectClients(kOthers);
    syncByProbe(flooder);

    std::vector<std::string> texts;
    for (int i = 0; i < kOthers; ++i) {
        for (int seq = 0; seq < kLinesEach; ++seq)
            texts.push_back(otherLine(i, seq));
    }
    texts.push_back(std::string(kProbe));
    std::vector<LoopbackClient*> everybody { &flooder };
    everybody.insert(everybody.end(), others.begin(), others.end());
    // Every client reads until it has the closing probe and the whole flood; how much that is
    // is known once the flood has stopped.
    std::atomic<uint64_t> flooded { 0 };
    std::atomic<bool> stopFlood { false };
    std::atomic<bool> floodOver { false };
    std::vector<std::unique_ptr<InterleavedStream>> streams;
    std::vector<std::unique_ptr<BackgroundReader>> readers;
    for (LoopbackClient* client : everybody) {
        streams.push_back(std::make_unique<InterleavedStream>(letterPattern(), texts));
        InterleavedStream& stream = *streams.back();
        readers.push_back(std::make_unique<BackgroundReader>(
            *client,
            [&](std::string_view piece) {
                stream.feed(piece);
                bool complete = floodOver && stream.timesSeen(kProbe) == 1 && stream.patternBytes() >= flooded;
                return stream.failure().empty() && !complete;
            },
            std::chrono::minutes(2)));
    }

    std::string floodError;
    auto slowest = [&] {
        uint64_t least = UINT64_MAX;
        for (const auto& stream : streams)
            least = std::min(least, stream->patternBytes());
        return least;
    };
    std::jthread flooding([&](std::stop_token stop) {
        constexpr size_t kWrite = 256 * 1024;
        // Far below the server's per-client queue cap, kernel buffers included.
        constexpr uint64_t kMostAhead = 1024 * 1024;
        auto end = Clock::now() + kMostFlood;
        try {
            while (!stopFlood && !stop.stop_requested() && Clock::now() < end && flooded < kMostFloodBytes) {
                if (flooded > slowest() + kMostAhead) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                flooder.send(letterPattern().slice(flooded, kWrite));
                flooded += kWrite;
            }
        } catch (const std::exception& error) {
            floodError = error.what();
        }
    });
    auto floodStart = Clock::now();

    // Lines go out one at a time while the flood is well under way; each must come back to
    // its sender before the next is sent.
    ASSERT_TRUE(waitFor([&] { return streams[0]->patternBytes() >= 8 * 1024 * 1024; }, std::chrono::seconds(20)))
        << "the flood did not get going: " << streams[0]->failure();
    for (int seq = 0; seq < kLinesEach; ++seq) {
        for (int i = 0; i < kOthers; ++i) {
            std::string line = otherLine(i, seq);
            others[size_t(i)]->send(line);
            InterleavedStream& own = *streams[size_t(i) + 1];
            ASSERT_TRUE(waitFor([&] { return own.timesSeen(line) == 1 || !own.failure().empty(); }, kLineWait))
                << line << " did not come back while the flood went on";
            ASSERT_EQ(own.failure(), "");
        }
    }
    uint64_t floodedBeforeLastLine = flooded;
    waitFor([&] { return Clock::now() - floodStart >= kLeastFlood; }, kLeastFlood);
    // More flood after the last line, so that every line sits inside the flood.
    waitFor([&] { return flooded >= floodedBeforeLastLine + 4 * 1024 * 1024; }, std::chrono::seconds(20));
    stopFlood = true;
    flooding.join();
    floodOver = true;
    ASSERT_EQ(floodError, "");

    others.front()->send(kProbe);
    for (size_t c = 0; c < everybody.size(); ++c) {
        SCOPED_TRACE("received by " + everybody[c]->address());
        ASSERT_TRUE(readers[c]->waitUntilDone(std::chrono::minutes(1)));
        const InterleavedStream& stream = *streams[c];
        ASSERT_EQ(stream.failure(), "");
        EXPECT_EQ(stream.patternBytes(), flooded.load()) << "flood bytes missing";
        std::vector<InterleavedStream::Sighting> seen = stream.sightings();
        ASSERT_EQ(seen.size(), texts.size());
        for (size_t t = 0; t + 1 < seen.size(); ++t) {
            EXPECT_LT(seen[t].patternOffset, flooded.load()) << seen[t].text << " came after the flood";
        }
        EXPECT_EQ(seen.back().text, kProbe);
        for (int i = 0; i < kOthers; ++i) {
            int lastSeq = -1;
            for (const auto& sighting : seen) {
                if (sighting.text.starts_with("<other " + std::to_string(i) + " ")) {
                    ++lastSeq;
                    EXPECT_EQ(sighting.text, otherLine(i, lastSeq));
                }
            }
            EXPECT_EQ(lastSeq, kLinesEach - 1);
        }
    }
}

// The console answers its administrator while a client floods: Esc pressed on the Windows
// console from the display (input, which Windows hands out only after the posted messages that
// socket readiness arrives as) ends the room, with the dissolution notice to a reader, while
// the flood still goes on. The flood stops on its own only after a bound far above any answer,
// and then the case fails rather than passing late.
TEST_F(Flood, EscOnTheConsoleEndsTheRoomDuringAFlood)
{
    const std::optional<WineTarget>& wine = wineTarget();
    if (!wine)
        GTEST_SKIP() << "the Linux program runs headless here: no display to press a key on";
    startServer();
    auto [reader, flooder] = connectClients<2>();
    syncByProbe(flooder);

    std::atomic<bool> serverEnded { false };
    std::atomic<bool> floodRanOut { false };
    std::atomic<uint64_t> flooded { 0 };
    std::string heard;
    std::jthread reading([&] { heard = reader.readToEnd(static_cast<int>(std::chrono::milliseconds(kMostFlood).count())); });
    std::jthread flooding([&] {
        const std::string chunk = letterPattern().slice(0, 64 * 1024);
        auto end = Clock::now() + kMostFlood;
        while (!serverEnded && flooder.trySend(chunk)) {
            flooded += chunk.size();
            if (Clock::now() >= end) {
                floodRanOut = true;
                return;
            }
        }
    });
    ASSERT_TRUE(waitFor([&] { return flooded >= 16 * 1024 * 1024; }, std::chrono::seconds(20))) << "the flood did not get going";

    ASSERT_EQ(wine->pressEscapeOnConsole(), 0) << "xdotool found no console to press Esc on";
    int status = server().waitForExit();
    serverEnded = true;
    flooding.join();
    reading.join();
    EXPECT_FALSE(floodRanOut) << "the console did not answer Esc while the flood went on";
    EXPECT_EQ(status, 0) << server().standardError();
    EXPECT_TRUE(reader.hasEnded()) << "the room did not end while the flood went on";
    EXPECT_TRUE(heard.ends_with(dissolutionNotice(true))) << heard.size() << " bytes without the dissolution notice at their end";
}

} // namespace
