// Control requests run in the room through the console: an action is the menu item's own
// handler on the named entry, and the entry the administrator had chosen in the console stays
// chosen.
#include "admin/AdminRequests.h"
#include "app/RoomFixture.h"
#include "runtime/Cp936.h"

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

// The room learns names from the chunks it relays: the console shows each beside its entry,
// whose text stays the address; `names` lists them, `list` does not; a leaver's goes with it.
TEST_F(AdminRequests, NamesFollowTheRelayedSenderLines)
{
    auto [a, b, c] = connectClients<3>();
    const std::string framed = "\r\n\r\n小明\r\n你好";
    const std::string plain = "just a line\r\n";
    ASSERT_TRUE(b.trySend(framed));
    ASSERT_TRUE(waitForBytes(a, framed.size()));
    ASSERT_TRUE(c.trySend(plain));
    ASSERT_TRUE(waitForBytes(a, framed.size() + plain.size()));

    EXPECT_EQ(answerAdminRequest("names"),
        "client " + a.address() + "\nclient " + b.address() + " " + cp936ToUtf8("小明") + "\nclient " + c.address() + "\nok 3 on the roster, 1 named\n");
    EXPECT_EQ(answerAdminRequest("list"), "client " + a.address() + "\nclient " + b.address() + "\nclient " + c.address() + "\nok 3 on the roster\n");
    EXPECT_EQ(itemText(列表框1, 1), b.address());
    EXPECT_EQ(itemDecoration(列表框1, 1), "小明");

    // The name moves up with its entry, and leaves with it.
    a.close();
    ASSERT_TRUE(pumpUntil([] { return itemCount(列表框1) == 2; }));
    EXPECT_EQ(itemDecoration(列表框1, 0), "小明");
    b.close();
    ASSERT_TRUE(pumpUntil([] { return itemCount(列表框1) == 1; }));
    EXPECT_EQ(service().memberNames.size(), 0u);
}

} // namespace
