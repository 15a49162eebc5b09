// Clients that go in the middle of a relay: some with a reset (SO_LINGER 0), some by closing
// only their sending side. The server must neither crash nor die of SIGPIPE (the harness
// starts it with SIGPIPE at its default), must announce each of them once, and must keep a
// roster that is right afterwards: the healthy clients get everything, a newcomer's probe
// reaches exactly them, and the server holds no descriptor of a gone client.
#include "BackgroundReader.h"
#include "InterleavedStream.h"
#include "StressRoom.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

namespace {

constexpr uint64_t kStreamBytes = 12 * 1024 * 1024;
constexpr size_t kWrite = 64 * 1024;
constexpr int kResetting = 4;
constexpr int kHalfClosing = 3;

class AbruptLeave : public StressRoom {
protected:
    enum class Role { Healthy, Resets, HalfCloses };
    struct Member {
        LoopbackClient* client;
        Role role;
        uint64_t leaveAt; // pattern bytes received before leaving
        std::unique_ptr<InterleavedStream> stream;
        std::unique_ptr<BackgroundReader> reader;
        std::atomic<bool> left { false };
        std::atomic<bool> sawEnd { false };
    };
};

TEST_F(AbruptLeave, ResetsAndHalfClosesInTheMiddleOfRelays)
{
    startServer();
    LoopbackClient& streamer = connectClient();
    std::vector<std::unique_ptr<Member>> members;
    auto add = [&](LoopbackClient& client, Role role, uint64_t leaveAt) {
        members.push_back(std::make_unique<Member>());
        members.back()->client = &client;
        members.back()->role = role;
        members.back()->leaveAt = leaveAt;
    };
    add(streamer, Role::Healthy, 0);
    add(connectClient(), Role::Healthy, 0);
    add(connectClient(), Role::Healthy, 0);
    // Their leaves are spread over the stream, resets and half-closes taking turns.
    for (int i = 0; i < kResetting + kHalfClosing; ++i) {
        uint64_t leaveAt = (uint64_t(i) + 1) * kStreamBytes / (kResetting + kHalfClosing + 2) + 4099 * uint64_t(i);
        add(connectClient(), i % 2 == 0 && i / 2 < kResetting ? Role::Resets : Role::HalfCloses, leaveAt);
    }
    syncByProbe(streamer);
    size_t descriptorsWithAll = openDescriptorCount(serverPid());

    std::vector<std::string> texts { std::string(kProbe) };
    for (const auto& member : members) {
        if (member->role != Role::Healthy)
            texts.push_back(leaveNotice(true, member->client->address()));
    }
    for (const auto& member : members) {
        Member& m = *member;
        m.stream = std::make_unique<InterleavedStream>(letterPattern(), texts);
        m.reader = std::make_unique<BackgroundReader>(
            *m.client,
            [&m](std::string_view piece) {
                m.stream->feed(piece);
                if (!m.stream->failure().empty())
                    return false;
                if (m.role == Role::Healthy)
                    return m.stream->timesSeen(kProbe) == 0;
                if (!m.left && m.stream->patternBytes() >= m.leaveAt) {
                    m.left = true;
                    if (m.role == Role::Resets) {
                        m.client->resetConnection();
                        return false;
                    }
                    // Half-closed, it reads on until the server has closed its side too.
                    m.client->shutdownSending();
                }
                return true;
            },
            std::chrono::minutes(2));
    }

    // The streamer keeps pace with the slowest member still reading: a reader that fell
    // further behind than its queue's cap (the kernel holds little of a client's stream
    // beyond it) would miss pieces by design, and this case is about leaving, not about that.
    auto slowestReading = [&] {
        uint64_t least = UINT64_MAX;
        for (const auto& member : members) {
            if (!member->left)
                least = std::min(least, member->stream->patternBytes());
        }
        return least;
    };
    // Far below the server's per-client queue cap.
    constexpr uint64_t kMostAhead = 1024 * 1024;
    for (uint64_t sent = 0; sent < kStreamBytes; sent += kWrite) {
        // A reader that stopped on a broken stream never catches up: the wait ends with the
        // readers' own limit, and the checks below say what broke.
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (slowestReading() != UINT64_MAX && sent > slowestReading() + kMostAhead && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        streamer.send(letterPattern().slice(sent, kWrite));
    }

    for (const auto& member : members) {
        if (member->role == Role::Healthy)
            continue;
        SCOPED_TRACE("leaving " + member->client->address());
        ASSERT_TRUE(member->reader->waitUntilDone(std::chrono::minutes(1)));
        EXPECT_TRUE(member->left);
        EXPECT_EQ(member->stream->failure(), "");
        if (member->role == Role::HalfCloses) {
            EXPECT_TRUE(member->reader->streamEnded()) << "the server never closed its side";
        }
    }
    // Once the healthy clients have the whole stream and every leave notice, the server
    // holds the sockets of the healthy clients only.
    for (const auto& member : members) {
        if (member->role != Role::Healthy)
            continue;
        auto complete = [&] {
            for (size_t t = 1; t < texts.size(); ++t) {
                if (member->stream->timesSeen(texts[t]) == 0)
                    return false;
            }
            return member->stream->patternBytes() == kStreamBytes || !member->stream->failure().empty();
        };
        for (int waited = 0; !complete() && waited < 3000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(openDescriptorCount(serverPid()), descriptorsWithAll - kResetting - kHalfClosing)
        << describeDescriptors(serverPid());

    for (const auto& member : members) {
        if (member->role == Role::HalfCloses)
            member->client->close();
    }

    // A newcomer's probe reaches the healthy clients, after the whole stream and every leave,
    // and the newcomer itself, as the first bytes it reads.
    LoopbackClient& newcomer = connectClient();
    newcomer.send(kProbe);
    expectReceives(newcomer, std::string(kProbe));
    for (const auto& member : members) {
        if (member->role != Role::Healthy)
            continue;
        SCOPED_TRACE("received by " + member->client->address());
        ASSERT_TRUE(member->reader->waitUntilDone(std::chrono::minutes(1)));
        const InterleavedStream& stream = *member->stream;
        ASSERT_EQ(stream.failure(), "");
        EXPECT_EQ(stream.patternBytes(), kStreamBytes);
        for (const std::string& text : texts)
            EXPECT_EQ(stream.timesSeen(text), 1u) << ::testing::PrintToString(text);
        EXPECT_EQ(stream.sightings().back().text, kProbe);
    }
    // Nothing came after the probe either.
    syncByProbe(newcomer);
}

} // namespace
