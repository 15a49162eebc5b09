// One very large message: 64 MiB from one client reach two others byte for byte, and the
// sender's own copy comes back whole too. The server reads at most 1 MiB per notification, so
// the message travels as many chunks, each relayed to everybody before the next. The sender
// keeps pace with the slowest receiver, as a chat client does: a receiver that falls further
// behind than its queue's cap misses chunks by design (the stalled reader case).
#include "BackgroundReader.h"
#include "BytePattern.h"
#include "StressRoom.h"

#include <atomic>
#include <thread>
#include <memory>

namespace {

constexpr size_t kMessageSize = 64 * 1024 * 1024;

// Any byte but those that begin a keyword of the test library or make a line a command, so
// that the robot never adds a word of its own to the stream.
std::string messageAlphabet()
{
    std::string alphabet;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != 0xBA && byte != 0xC4 && byte != 0xCC && byte != '@')
            alphabet += char(byte);
    }
    return alphabet;
}

// Compares what arrives with the message as it goes, without keeping it.
struct MessageCheck {
    const BytePattern* message;
    std::atomic<uint64_t> received = 0;
    uint64_t firstMismatch = UINT64_MAX;

    bool feed(std::string_view piece)
    {
        size_t take = size_t(std::min<uint64_t>(piece.size(), kMessageSize - received));
        size_t matched = message->matchingPrefix(received, piece.substr(0, take));
        if (matched < take && firstMismatch == UINT64_MAX)
            firstMismatch = received + matched;
        received += piece.size();
        return received < kMessageSize;
    }
};

class LargeMessage : public StressRoom { };

TEST_F(LargeMessage, SixtyFourMiBReachEveryClientWhole)
{
    startServer();
    std::vector<LoopbackClient*> receivers = connectRoom(3);
    LoopbackClient& sender = *receivers[0];
    LoopbackClient& first = *receivers[1];

    BytePattern message(messageAlphabet(), 64);
    std::vector<MessageCheck> checks(receivers.size());
    for (MessageCheck& check : checks)
        check.message = &message;
    std::vector<std::unique_ptr<BackgroundReader>> readers;
    for (size_t i = 0; i < receivers.size(); ++i) {
        readers.push_back(std::make_unique<BackgroundReader>(
            *receivers[i], [&check = checks[i]](std::string_view piece) { return check.feed(piece); }, std::chrono::minutes(3)));
    }

    constexpr size_t kWrite = 1024 * 1024;
    // Far below the server's per-client queue cap, kernel buffers included.
    constexpr uint64_t kMostBehind = 1024 * 1024;
    auto slowest = [&] {
        uint64_t least = UINT64_MAX;
        for (const MessageCheck& check : checks)
            least = std::min<uint64_t>(least, check.received);
        return least;
    };
    for (uint64_t sent = 0; sent < kMessageSize; sent += kWrite) {
        sender.send(message.slice(sent, kWrite));
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (sent + kWrite > slowest() + kMostBehind && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    for (size_t i = 0; i < receivers.size(); ++i) {
        SCOPED_TRACE("received by " + receivers[i]->address());
        ASSERT_TRUE(readers[i]->waitUntilDone(std::chrono::minutes(3)));
        EXPECT_EQ(checks[i].received, kMessageSize);
        EXPECT_EQ(checks[i].firstMismatch, UINT64_MAX) << "the first byte that differs";
    }
    readers.clear();
    // Nothing more came with it.
    syncByProbe(first);
}

} // namespace
