// The leave notice: when a client goes, every other client in the room is told its address,
// in first form while no data has arrived yet and after a blank line once some has.
#include "RoomTest.h"

namespace {

class LeaveNotice : public RoomTest { };
// The parameter is the leaver's place in the roster of three.
class LeaveNoticeByPlace : public RoomTest, public ::testing::WithParamInterface<int> { };

// Clients before and after the leaver in the roster are told alike.
TEST_P(LeaveNoticeByPlace, AfterDataEveryOtherClientIsTold)
{
    startServer();
    closeAndExpectLeaveNotice(*connectRoom(3)[size_t(GetParam())], true);
    // Told once: the next bytes anybody reads are the next relay.
    syncByProbe(*openClients().front());
}

TEST_P(LeaveNoticeByPlace, BeforeAnyDataTheNoticeHasNoBlankLine)
{
    startServer();
    std::vector<LoopbackClient*> room = connectClients(3);
    syncByPassingClient(false);
    closeAndExpectLeaveNotice(*room[size_t(GetParam())], false);
    syncByProbe(*openClients().front());
}

INSTANTIATE_TEST_SUITE_P(Leaver, LeaveNoticeByPlace, ::testing::Values(0, 1, 2));

TEST_F(LeaveNotice, SilentClientLeavingIsAnnounced)
{
    startServer();
    LoopbackClient& stays = connectClient();
    // Connects, sends nothing and leaves before any data: told in first form.
    syncByPassingClient(false);

    stays.send("hello");
    expectReceives(stays, "hello");
    // The same once data has arrived, also from a client that never got any of it.
    LoopbackClient& silent = connectClient();
    syncByPassingClient(true);
    closeAndExpectLeaveNotice(silent, true);
    syncByProbe(stays);
}

// The form follows the latest data, not whether any data ever arrived: data whose first byte is
// NUL has no text, and the sender of the latest data leaving does not change it.
TEST_F(LeaveNotice, FormFollowsTheLatestData)
{
    startServer();
    auto [first, second, third] = connectRoom<3>();

    first.send(bytesOf("\0no text"));
    expectAllReceive(bytesOf("\0no text"));
    closeAndExpectLeaveNotice(third, false);

    second.send(bytesOf("text\0and more"));
    expectAllReceive(bytesOf("text\0and more"));
    closeAndExpectLeaveNotice(second, true);
    syncByProbe(first);
}

} // namespace
