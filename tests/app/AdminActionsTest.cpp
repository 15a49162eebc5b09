// The administrator's actions on the selected roster entry and the room's dissolution, with
// the real handlers and real clients on loopback: the form each notice takes by the marker
// rule, which actions mark, the kick's disconnection with the leave notice run inside it, what
// happens with nothing selected, and what every client gets when the console closes.
#include "app/RoomFixture.h"

#include <string>

namespace {

using namespace app_test;

struct MarkingAction {
    const char* name;
    void (*handler)();
    const std::string& body;
};

const std::vector<MarkingAction> kMarkingActions = {
    { "shake", onShake, kShakeBody },
    { "quake", onQuake, kQuakeBody },
    { "reward", onReward, kRewardBody },
    { "mute", onMute, kMuteBody },
    { "prank", onPrank, kPrankBody },
};

using AdminActions = Room;

TEST_F(AdminActions, NoticeTwiceGoesFirstThenContinuedAndMarksOnce)
{
    LoopbackClient& bystander = connectClient();
    std::vector<std::pair<LoopbackClient*, std::string>> expected;
    std::string markers;
    for (const MarkingAction& action : kMarkingActions) {
        SCOPED_TRACE(action.name);
        LoopbackClient& target = connectClient();
        select(itemCount(列表框1) - 1);
        action.handler();
        markers += target.address() + "=1\r\n";
        EXPECT_EQ(content(编辑框1), markers);
        action.handler();
        EXPECT_EQ(content(编辑框1), markers) << "the second notice added a marker";
        const std::string bothForms = administratorNotice(false, action.body) + administratorNotice(true, action.body);
        EXPECT_TRUE(waitForBytes(target, bothForms.size()));
        EXPECT_EQ(target.unread(), bothForms);
        expected.emplace_back(&target, bothForms);
    }
    // Nobody else heard any of it, and every target is still in the room.
    EXPECT_EQ(itemCount(列表框1), 1 + static_cast<int32_t>(kMarkingActions.size()));
    expected.emplace_back(&bystander, "");
    expectStreams(bystander, expected);
}

TEST_F(AdminActions, KickOfAnUnmarkedClient)
{
    auto [a, b, c] = connectClients<3>();
    const std::string kicked = b.address();
    select(1);
    onKick();
    // The client-left handling ran inside the kick.
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { a.address(), c.address() }));
    EXPECT_EQ(content(编辑框1), "") << "the kick wrote a marker";

    EXPECT_TRUE(waitForEnd(b));
    EXPECT_EQ(b.unread(), administratorNotice(false, kKickBody));
    EXPECT_FALSE(b.wasReset()) << "the connection was reset, not closed";
    expectStreams(a, { { &a, leaveNotice(false, kicked) }, { &c, leaveNotice(false, kicked) } });
}

TEST_F(AdminActions, KickOfAMarkedClientSendsTheContinuedForm)
{
    auto [a, b] = connectClients<2>();
    ASSERT_TRUE(a.trySend("hello"));
    ASSERT_TRUE(waitForBytes(a, 5));
    ASSERT_TRUE(waitForBytes(b, 5));
    const std::string kicked = a.address();
    select(0);
    onKick();
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { b.address() }));
    EXPECT_EQ(content(编辑框1), b.address() + "=1\r\n");
    EXPECT_TRUE(waitForEnd(a));
    EXPECT_EQ(a.unread(), "hello" + administratorNotice(true, kKickBody));
    expectStreams(b, { { &b, "hello" + leaveNotice(true, kicked) } });
}

TEST_F(AdminActions, MuteAndPrankOnlySend)
{
    auto [a, b] = connectClients<2>();
    select(0);
    onMute();
    onPrank();
    const std::string notices = administratorNotice(false, kMuteBody) + administratorNotice(true, kPrankBody);
    EXPECT_TRUE(waitForBytes(a, notices.size()));
    // Still in the room, still connected, and its data is relayed as before.
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { a.address(), b.address() }));
    ASSERT_TRUE(a.trySend("still here"));
    EXPECT_TRUE(waitForBytes(b, 10));
    EXPECT_FALSE(a.hasEnded());
    expectStreams(a, { { &a, notices + "still here" }, { &b, "still here" } });
}

TEST_F(AdminActions, NothingSelectedReachesNobody)
{
    auto [a, b] = connectClients<2>();
    ASSERT_EQ(currentSelection(列表框1), -1);
    for (const MarkingAction& action : kMarkingActions) {
        SCOPED_TRACE(action.name);
        // The empty entry text gets a marker line of its own...
        setContent(编辑框1, "");
        action.handler();
        EXPECT_EQ(content(编辑框1), "=1\r\n");
        // ...and once any marker is there, nothing more is appended.
        action.handler();
        EXPECT_EQ(content(编辑框1), "=1\r\n");
    }
    setContent(编辑框1, "");
    onKick();
    EXPECT_EQ(content(编辑框1), "");
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { a.address(), b.address() }));
    expectStreams(a, { { &a, "" }, { &b, "" } });
}

TEST_F(AdminActions, ChosenFromThePopupActsOnTheClickedEntry)
{
    auto [a, b] = connectClients<2>();
    // 抖动, the menu's second item, chosen with the mouse.
    QtConsoleDriver::PopupDriver driver([](QMenu* menu) { QtConsoleDriver::choose(menu, 1, ChoiceWay::LeftButton); });
    QtConsoleDriver::clickEntry(1);
    pumpUntil([&] { return driver.finished(); });
    EXPECT_TRUE(driver.acted());
    EXPECT_EQ(content(编辑框1), b.address() + "=1\r\n");
    expectStreams(a, { { &a, "" }, { &b, administratorNotice(false, kShakeBody) } });
}

// Closing the console with Esc tells every listed client, in the form its marker decides,
// while the connections are still open; then each connection ends.
TEST_F(AdminActions, DissolutionGoesToEveryEntryByItsMarker)
{
    auto [a, b, c] = connectClients<3>();
    select(1);
    onShake();
    ASSERT_EQ(content(编辑框1), b.address() + "=1\r\n");

    ASSERT_TRUE(QtConsoleDriver::pressEscapeInWindow());
    ASSERT_EQ(console(), nullptr) << "Esc did not close the console";

    const std::pair<LoopbackClient*, std::string> expected[] = {
        { &a, dissolutionNotice(false) },
        { &b, administratorNotice(false, kShakeBody) + dissolutionNotice(true) },
        { &c, dissolutionNotice(false) },
    };
    for (const auto& [client, bytes] : expected) {
        SCOPED_TRACE(client->address());
        EXPECT_TRUE(waitForEnd(*client));
        EXPECT_EQ(client->unread(), bytes);
        EXPECT_FALSE(client->wasReset());
    }
}

TEST_F(AdminActions, DissolutionWithAnEmptyRosterSendsNothing)
{
    // A connection whose entry is no longer listed is not told either.
    LoopbackClient& unlisted = connectClient();
    ASSERT_TRUE(deleteItem(列表框1, 0));
    QtConsoleDriver::close();
    EXPECT_TRUE(waitForEnd(unlisted));
    EXPECT_EQ(unlisted.unread(), "");
}

} // namespace
