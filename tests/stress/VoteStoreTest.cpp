// The value store under a crash: the server is killed (SIGKILL) during a run of "@关闭" votes
// and started again on the same configuration home. The store must open and pass SQLite's
// integrity check, and the poll must go on from the last vote it committed: the count read
// back is that of the notices the room heard, and the next vote's notice follows from it.
#include "PollStore.h"
#include "StressRoom.h"

#include <thread>

namespace {

const std::string kCloseVote = "@关闭";

// The robot's notice after the vote that makes the count `count`.
std::string noticeForCount(int count)
{
    return count == 1 ? kCloseTwoMore : count == 2 ? kCloseOneMore : kClosed;
}

// A word library that nothing in these tests matches: the robot is on, and speaks only of
// the poll.
std::string quietLibrary()
{
    return "zzz\r\nyyy";
}

class VoteStore : public StressRoom {
protected:
    // `voter` votes and everybody (but a client that does not read) hears the relay and the
    // robot's notice.
    void vote(LoopbackClient& voter, const std::string& notice, const LoopbackClient* deaf = nullptr, const std::string& command = kCloseVote)
    {
        voter.send(command);
        if (deaf)
            expectOthersReceive(*deaf, command + robotSays(notice));
        else
            expectAllReceive(command + robotSays(notice));
    }

    static std::set<uint16_t> portsOf(const std::vector<LoopbackClient*>& clients)
    {
        std::set<uint16_t> ports;
        for (LoopbackClient* client : clients)
            ports.insert(client->port());
        return ports;
    }
};

// The kill comes after the room has heard this many votes, and before the next.
class KilledBetweenVotes : public VoteStore, public ::testing::WithParamInterface<int> { };

TEST_P(KilledBetweenVotes, PollGoesOnFromTheLastVote)
{
    const int heard = GetParam();
    startServer(quietLibrary());
    std::vector<LoopbackClient*> voters = connectRoom(3);
    for (int i = 0; i < heard; ++i)
        vote(*voters[size_t(i)], noticeForCount(i + 1));

    EXPECT_EQ(killServer(), 128 + SIGKILL);
    PollRecord poll = readPoll(configHome());
    EXPECT_EQ(poll.integrity, "ok");
    ASSERT_EQ(poll.count, heard);
    EXPECT_EQ(poll.voters, heard);

    // New addresses finish the poll where it stood.
    std::set<uint16_t> voted = portsOf(voters);
    restartServer();
    std::vector<LoopbackClient*> newcomers = connectRoom(3 - heard, { .avoidPorts = voted });
    for (int count = heard + 1; count <= 3; ++count)
        vote(*newcomers[size_t(count - heard - 1)], noticeForCount(count));
    syncByProbe(*newcomers.front());
    EXPECT_EQ(server().stop(), 0) << server().standardError();
    poll = readPoll(configHome());
    EXPECT_EQ(poll.integrity, "ok");
    EXPECT_EQ(poll.count, std::nullopt) << "the decided poll is still in the store";
}

INSTANTIATE_TEST_SUITE_P(VotesHeard, KilledBetweenVotes, ::testing::Values(1, 2));

// The kill comes while the second vote is on its way, after the given delay in microseconds
// (the vote's writes to the store take a millisecond or two). Whatever the moment, the store is
// sound, the count is the first vote or the second, the room has heard no notice that the store
// does not count, and every address the store holds as having voted is counted: a voter marked
// but not counted could never vote again in this poll.
class KilledDuringAVote : public VoteStore, public ::testing::WithParamInterface<int> { };

TEST_P(KilledDuringAVote, CountIsTheLastCommittedVote)
{
    startServer(quietLibrary());
    std::vector<LoopbackClient*> voters = connectRoom(3);
    vote(*voters[0], kCloseTwoMore);

    voters[1]->send(kCloseVote);
    std::this_thread::sleep_for(std::chrono::microseconds(GetParam()));
    EXPECT_EQ(killServer(), 128 + SIGKILL);
    std::string rest = voters[0]->readToEnd();
    bool noticeHeard = rest.find(robotSays(kCloseOneMore)) != std::string::npos;

    PollRecord poll = readPoll(configHome());
    EXPECT_EQ(poll.integrity, "ok");
    ASSERT_TRUE(poll.count == 1 || poll.count == 2) << "count " << poll.count.value_or(-1);
    if (noticeHeard) {
        EXPECT_EQ(poll.count, 2) << "the room heard a vote that the store lost";
    }
    EXPECT_EQ(poll.voters, *poll.count) << "a voter recorded without the vote counted, or the other way round";

    std::set<uint16_t> voted = portsOf(voters);
    restartServer();
    std::vector<LoopbackClient*> newcomers = connectRoom(1, { .avoidPorts = voted });
    vote(*newcomers.front(), noticeForCount(*poll.count + 1));
}

INSTANTIATE_TEST_SUITE_P(DelayUs, KilledDuringAVote, ::testing::Values(0, 250, 500, 750, 1000, 1250, 1500, 2000, 3000, 5000, 8000));

// The kill comes right after the deciding vote was announced, while the server still waits
// on a client whose connection is full and so has not yet removed the decided poll. A count
// of three may be left behind: then the next vote decides again and removes it (a poll must
// never stick past three), and a new poll starts after it.
TEST_F(VoteStore, KilledBeforeTheDecidedPollIsRemoved)
{
    startServer(quietLibrary());
    std::vector<LoopbackClient*> voters = connectRoom(3);
    // Connected last, so that every announcement reaches the voters before the server waits
    // on this one.
    LoopbackClient& stalled = connectClient({ .receiveBuffer = kSmallReceiveBuffer });
    syncByProbe(*voters.front());
    fillConnection(*voters.front(), stalled);

    vote(*voters[0], kCloseTwoMore, &stalled);
    vote(*voters[1], kCloseOneMore, &stalled);
    vote(*voters[2], kClosed, &stalled);
    EXPECT_EQ(killServer(), 128 + SIGKILL);

    PollRecord poll = readPoll(configHome());
    EXPECT_EQ(poll.integrity, "ok");
    ASSERT_TRUE(poll.count == 3 || poll.count == std::nullopt) << "count " << poll.count.value_or(-1);

    std::set<uint16_t> voted = portsOf(voters);
    restartServer();
    LoopbackClient& newcomer = *connectRoom(1, { .avoidPorts = voted }).front();
    if (poll.count == 3) {
        vote(newcomer, kClosed);
        EXPECT_EQ(readPoll(configHome()).count, std::nullopt) << "the poll is still in the store after deciding";
        // Closed now: the open vote starts a poll of its own.
        vote(newcomer, kOpenTwoMore, nullptr, "@开启");
    } else {
        vote(newcomer, kCloseTwoMore);
    }
}

} // namespace
