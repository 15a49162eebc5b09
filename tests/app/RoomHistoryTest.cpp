// The room's history: what stays within the bounds on count and bytes, what a replay after a
// number gives, and how many are counted as missed.
#include "app/RoomHistory.h"
#include "app/RoomOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint64_t> replayedSeqs(const RoomHistory& history, std::optional<uint64_t> after = std::nullopt)
{
    std::vector<uint64_t> seqs;
    history.replay(after, [&](const OutgoingMessage& message) { seqs.push_back(message.seq); });
    return seqs;
}

TEST(RoomHistory, KeepsTheLatestWithinTheCountAndTheBytes)
{
    struct Case {
        const char* name;
        HistoryBounds bounds;
        std::vector<size_t> sizes; // bytes of each message recorded, in order
        std::vector<uint64_t> kept;
    };
    const Case cases[] = {
        { "under both bounds", { 5, 100 }, { 10, 10, 10 }, { 1, 2, 3 } },
        { "the count drops the oldest", { 2, 100 }, { 10, 10, 10 }, { 2, 3 } },
        { "the bytes drop the oldest", { 10, 25 }, { 10, 10, 10 }, { 2, 3 } },
        { "exactly at the byte bound", { 10, 30 }, { 10, 10, 10 }, { 1, 2, 3 } },
        { "one above the byte bound alone is numbered, not kept", { 10, 25 }, { 10, 26, 10 }, { 1, 3 } },
        { "a large one pushes out several", { 10, 30 }, { 10, 10, 10, 25 }, { 4 } },
        { "count 0 switches it off", { 0, 100 }, { 1, 1 }, {} },
        { "bytes 0 switches it off", { 10, 0 }, { 1, 1 }, {} },
    };
    for (const Case& c : cases) {
        RoomHistory history(c.bounds);
        for (size_t size : c.sizes)
            history.record(MessageKind::Relayed, std::string(size, 'x'));
        EXPECT_EQ(replayedSeqs(history), c.kept) << c.name;
        EXPECT_EQ(history.lastSeq(), c.sizes.size()) << c.name;
        EXPECT_LE(history.size(), c.bounds.messages) << c.name;
        EXPECT_LE(history.bytes(), c.bounds.bytes) << c.name;
    }
}

TEST(RoomHistory, TheSenderAndTheOriginalCountAsBytesAndComeBack)
{
    RoomHistory history({ 10, 20 });
    history.record(MessageKind::Relayed, "abc", "1.2.3.4:5", "ABC");
    EXPECT_EQ(history.bytes(), 15u);
    history.record(MessageKind::ServerText, "notice");
    EXPECT_EQ(replayedSeqs(history), std::vector<uint64_t> { 2 });
    history.replay(std::nullopt, [](const OutgoingMessage& message) {
        EXPECT_EQ(message.kind, MessageKind::ServerText);
        EXPECT_EQ(message.bytes, "notice");
    });
}

TEST(RoomHistory, AReplayAfterASeqGivesTheRestAndCountsWhatIsGone)
{
    RoomHistory history({ 3, 1000 });
    for (int i = 0; i < 6; ++i)
        history.record(MessageKind::Relayed, "m");
    // Kept: 4, 5, 6.
    struct Case {
        uint64_t after;
        std::vector<uint64_t> replayed;
        uint64_t forgotten;
    };
    const Case cases[] = {
        { 0, { 4, 5, 6 }, 3 },
        { 2, { 4, 5, 6 }, 1 },
        { 3, { 4, 5, 6 }, 0 },
        { 5, { 6 }, 0 },
        { 6, {}, 0 },
        { 99, {}, 0 }, // a number from before a restart, beyond the latest
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replayedSeqs(history, c.after), c.replayed) << c.after;
        EXPECT_EQ(history.forgottenAfter(c.after), c.forgotten) << c.after;
    }
}

TEST(RoomHistory, TheOptionSetsTheBoundsOrIsRefused)
{
    struct Case {
        std::vector<std::string_view> arguments;
        bool accepted;
        HistoryBounds bounds;
    };
    const Case cases[] = {
        { {}, true, {} },
        { { "--history", "0" }, true, { 0, HistoryBounds::kDefaultBytes } },
        { { "--history", "20,4096" }, true, { 20, 4096 } },
        { { "--history=7" }, true, { 7, HistoryBounds::kDefaultBytes } },
        { { "--web-port", "8080", "--history", "1,2" }, true, { 1, 2 } },
        { { "--history" }, false, {} },
        { { "--history", "x" }, false, {} },
        { { "--history", "5," }, false, {} },
        { { "--history", "-1" }, false, {} },
    };
    for (const Case& c : cases) {
        std::string problem;
        std::optional<RoomOptions> options = parseRoomOptions(c.arguments, problem);
        std::string shown = c.arguments.empty() ? "(none)" : std::string(c.arguments.back());
        ASSERT_EQ(options.has_value(), c.accepted) << shown << ": " << problem;
        if (!options)
            continue;
        EXPECT_EQ(options->history.messages, c.bounds.messages) << shown;
        EXPECT_EQ(options->history.bytes, c.bounds.bytes) << shown;
    }
}

} // namespace
