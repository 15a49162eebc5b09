// Control requests run in the room through the console: an action is the menu item's own
// handler on the named entry, and the entry the administrator had chosen in the console stays
// chosen.
#include "admin/AdminRequests.h"
#include "app/RoomFixture.h"

namespace {

using namespace app_test;
using AdminRequests = Room;

TEST_F(AdminRequests, ActionRunsTheMenuItemAndKeepsTheSelection)
{
    auto [a, b] = connectClients<2>();
    select(0);
    EXPECT_EQ(answerAdminRequest("shake " + b.address()), "ok shake " + b.address() + "\n");
    EXPECT_EQ(currentSelection(列表框1), 0);
    // Marked as the menu's shake marks.
    EXPECT_EQ(content(编辑框1), b.address() + "=1\r\n");
    expectStreams(a, { { &a, "" }, { &b, "管理员\r\n管理员抖了你一下！" } });
}

TEST_F(AdminRequests, KickOfAnotherEntryRemovesOnlyThatOne)
{
    auto [a, b] = connectClients<2>();
    const std::string kicked = a.address();
    EXPECT_EQ(answerAdminRequest("kick " + kicked), "ok kick " + kicked + "\n");
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { b.address() }));
    EXPECT_TRUE(waitForEnd(a));
    EXPECT_EQ(answerAdminRequest("list"), "client " + b.address() + "\nok 1 on the roster\n");
    EXPECT_EQ(answerAdminRequest("kick " + kicked).rfind("no-such-client ", 0), 0u);
    expectStreams(b, { { &b, leaveNotice(false, kicked) } });
}

} // namespace
