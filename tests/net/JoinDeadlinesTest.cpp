// The limits on connections waiting to join: given up past their deadline, or oldest first
// beyond the cap; those that joined or closed meanwhile are never given up.
#include "net/JoinDeadlines.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Clock = JoinDeadlines::Clock;

TEST(JoinDeadlines, OverdueAreThoseLateOrOldestBeyondTheCap)
{
    const Clock::time_point start {};
    JoinDeadlines deadlines;
    std::set<uint64_t> waiting;
    for (uint64_t id = 1; id <= JoinDeadlines::kMaxWaiting + 2; ++id) {
        deadlines.add(id, start + std::chrono::milliseconds(id));
        waiting.insert(id);
    }
    auto stillWaits = [&](uint64_t id) { return waiting.contains(id); };
    // Connection 1 joined: of the rest, the two oldest make way for the cap.
    waiting.erase(1);
    std::vector<uint64_t> pushedOut = deadlines.overdue(waiting.size(), stillWaits, start);
    EXPECT_EQ(pushedOut, (std::vector<uint64_t> { 2 }));
    waiting.erase(2);
    EXPECT_TRUE(deadlines.overdue(waiting.size(), stillWaits, start).empty());

    // Past the deadline of the next two, and no further.
    waiting.erase(4);
    std::vector<uint64_t> late = deadlines.overdue(waiting.size(), stillWaits, start + JoinDeadlines::kDeadline + std::chrono::milliseconds(5));
    EXPECT_EQ(late, (std::vector<uint64_t> { 3, 5 }));
}

} // namespace
