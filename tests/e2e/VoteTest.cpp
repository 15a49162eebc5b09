// Switching the robot off and on by vote: three addresses each, one vote per address and poll,
// the poll kept in the per-user store so that it outlives the server. Each vote is its own
// write, and everybody reads its relay and notices before the next one is sent, so that no
// two votes arrive as one chunk.
#include "RoomTest.h"

namespace {

class Vote : public RoomTest {
protected:
    struct Step {
        int sender;
        std::string data;
        std::string robotBody; // empty: the robot says nothing
    };

    // Runs the steps in order: every client reads each step's relay, then the robot's text,
    // and then nothing but the probe.
    void play(const std::vector<LoopbackClient*>& voters, const std::vector<Step>& steps)
    {
        for (const Step& step : steps) {
            SCOPED_TRACE("client " + std::to_string(step.sender) + " sends " + ::testing::PrintToString(step.data));
            voters[size_t(step.sender)]->send(step.data);
            expectAllReceive(step.data + (step.robotBody.empty() ? "" : robotSays(step.robotBody)));
            // Nothing more: the next bytes are the probe's.
            syncByProbe(*voters.front());
        }
    }
};

TEST_F(Vote, ThreeAddressesCloseAndThreeReopen)
{
    startServer();
    std::vector<LoopbackClient*> voters = connectRoom(3);
    play(voters, {
        { 0, "@关闭 ", "" }, // the whole line or no vote
        { 0, "说@关闭", "" },
        { 0, "x\r\n@关闭\r\n", kCloseTwoMore }, // the last line is the vote
        { 0, "@关闭", kCloseAgain },
        { 1, "@关闭", kCloseOneMore },
        { 1, "@关闭", kCloseAgain },
        { 2, "@关闭", kClosed },
        { 0, "你好吗", "" }, // closed: keywords go unanswered
        { 1, "@关闭", "" }, // and a close vote is plain chat
        { 0, "@开启", kOpenTwoMore },
        { 0, "@开启", kOpenAgain },
        { 1, "@开启", kOpenOneMore },
        { 2, "@开启", kOpened },
        { 0, "你好吗", "你好呀" },
        // The finished poll is gone: the same addresses start a new one.
        { 2, "@关闭", kCloseTwoMore },
    });
}

TEST_F(Vote, PollSurvivesRestart)
{
    startServer();
    std::vector<LoopbackClient*> voters = connectRoom(3);
    play(voters, {
        { 0, "@关闭", kCloseTwoMore },
        { 1, "@关闭", kCloseOneMore },
        { 2, "@关闭", kClosed },
        { 0, "@开启", kOpenTwoMore },
        { 1, "@开启", kOpenOneMore },
    });
    std::set<uint16_t> votedInPoll { voters[0]->port(), voters[1]->port() };

    // A new start has the robot on again, and the poll still counts two.
    restartServer();
    LoopbackClient& third = connectClient({ .avoidPorts = votedInPoll });
    play({ &third }, {
        { 0, "你好吗", "你好呀" },
        { 0, "@关闭", kClosed },
        { 0, "你好吗", "" },
    });
}

TEST_F(Vote, MissingLibraryStartsTheRobotOff)
{
    startServer(std::nullopt);
    std::vector<LoopbackClient*> voters = connectRoom(3);
    play(voters, {
        { 0, "@关闭", "" }, // off: plain chat
        { 0, "@开启", kOpenTwoMore },
        { 1, "@开启", kOpenOneMore },
        { 2, "@开启", kOpened },
        { 0, "你好吗", "" }, // on, but with nothing to answer from
        { 0, "@关闭", kCloseTwoMore },
    });
    EXPECT_EQ(server().stop(), 0) << server().standardError();
    EXPECT_TRUE(server().toldAdministrator(kErrorCaption, kMissingLibraryText)) << server().standardError();
}

} // namespace
