// The room with its real handlers and real clients on loopback: entering puts a client on the
// roster and sends nothing, data is relayed byte for byte to every entry (the sender too) and
// marks each entry once, and a leaver's entry and marker go while everybody else is told.
#include "app/RoomFixture.h"

#include <string>

namespace {

using namespace app_test;

using ChatRelay = Room;

TEST_F(ChatRelay, EnteringClientsAreListedInOrderAndSentNothing)
{
    auto [a, b, c] = connectClients<3>();
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { a.address(), b.address(), c.address() }));
    EXPECT_EQ(content(编辑框1), "");
    expectStreams(a, { { &a, "" }, { &b, "" }, { &c, "" } });
}

TEST_F(ChatRelay, DataReachesEveryEntryAndMarksEachOnce)
{
    auto [a, b, c] = connectClients<3>();

    const std::string first = "name\r\nhello";
    ASSERT_TRUE(b.trySend(first));
    for (LoopbackClient* client : { &a, &b, &c }) {
        EXPECT_TRUE(waitForBytes(*client, first.size()));
        EXPECT_EQ(client->unread(), first) << client->address();
    }
    const std::string markers = a.address() + "=1\r\n" + b.address() + "=1\r\n" + c.address() + "=1\r\n";
    EXPECT_EQ(content(编辑框1), markers);

    // Two-byte text and a NUL travel unchanged; nobody gets a second marker.
    const std::string second = std::string("管理员\r\n") + std::string(1, '\0') + "tail";
    ASSERT_EQ(second.size(), 13u);
    ASSERT_TRUE(c.trySend(second));
    for (LoopbackClient* client : { &a, &b, &c })
        EXPECT_TRUE(waitForBytes(*client, first.size() + second.size()));
    EXPECT_EQ(content(编辑框1), markers);
    expectStreams(a, { { &a, first + second }, { &b, first + second }, { &c, first + second } });
    EXPECT_EQ(content(编辑框1), markers);
}

TEST_F(ChatRelay, LoneClientGetsItsOwnDataBack)
{
    LoopbackClient& a = connectClient();
    ASSERT_TRUE(a.trySend("name\r\nhello"));
    EXPECT_TRUE(waitForBytes(a, 11));
    EXPECT_EQ(a.unread(), "name\r\nhello");
    EXPECT_EQ(content(编辑框1), a.address() + "=1\r\n");
}

// The parameter is the leaver's place in the roster of three: first or between two others.
class ChatRelayLeaver : public Room, public ::testing::WithParamInterface<size_t> { };

TEST_P(ChatRelayLeaver, BeforeAnyDataIsAnnouncedInFirstFormToEveryEntryBeforeAndAfterIt)
{
    std::vector<LoopbackClient*> stay = { &connectClient(), &connectClient(), &connectClient() };
    LoopbackClient& leaving = *stay[GetParam()];
    stay.erase(stay.begin() + static_cast<std::ptrdiff_t>(GetParam()));
    const std::string leaver = leaving.address();
    leaving.close();
    ASSERT_TRUE(pumpUntil([&] { return itemCount(列表框1) == 2; }));
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { stay[0]->address(), stay[1]->address() }));
    // The notice neither reads nor writes markers.
    EXPECT_EQ(content(编辑框1), "");
    expectStreams(*stay[0], { { stay[0], leaveNotice(false, leaver) }, { stay[1], leaveNotice(false, leaver) } });
}

INSTANTIATE_TEST_SUITE_P(Place, ChatRelayLeaver, ::testing::Values(size_t { 0 }, size_t { 1 }));

TEST_F(ChatRelay, LeaverAfterDataIsAnnouncedInContinuedFormAndLosesItsMarker)
{
    auto [a, b, c] = connectClients<3>();
    ASSERT_TRUE(a.trySend("hi"));
    for (LoopbackClient* client : { &a, &b, &c })
        ASSERT_TRUE(waitForBytes(*client, 2));
    ASSERT_EQ(content(编辑框1), a.address() + "=1\r\n" + b.address() + "=1\r\n" + c.address() + "=1\r\n");

    const std::string leaver = b.address();
    b.close();
    ASSERT_TRUE(pumpUntil([&] { return itemCount(列表框1) == 2; }));
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { a.address(), c.address() }));
    EXPECT_EQ(content(编辑框1), a.address() + "=1\r\n" + c.address() + "=1\r\n");
    expectStreams(c, { { &a, "hi" + leaveNotice(true, leaver) }, { &c, "hi" + leaveNotice(true, leaver) } });
}

// One address text can end another (1.2.3.4:80 and 11.2.3.4:80). Here a listed entry "1" +
// the client's address stands for the longer one: its marker makes the client count as
// marked, and the client's leaving cuts the tail off the longer one's marker line.
TEST_F(ChatRelay, RemovingAMarkerCutsTheTailOfALongerAddressEndingInIt)
{
    auto [a, b] = connectClients<2>();
    const std::string longer = "1" + a.address();
    addItem(列表框1, longer);
    setContent(编辑框1, longer + "=1\r\n" + b.address() + "=1\r\n");

    // a counts as marked through the longer one's line: its notice comes in continued form.
    select(0);
    onShake();
    EXPECT_EQ(content(编辑框1), longer + "=1\r\n" + b.address() + "=1\r\n");
    const std::string shake = administratorNotice(true, kShakeBody);
    EXPECT_TRUE(waitForBytes(a, shake.size()));
    EXPECT_EQ(a.unread(), shake);

    a.close();
    ASSERT_TRUE(pumpUntil([&] { return itemCount(列表框1) == 2; }));
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { b.address(), longer }));
    EXPECT_EQ(content(编辑框1), "1" + b.address() + "=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, longer + "=1"), -1);
    EXPECT_NE(findInContent(编辑框1, b.address() + "=1"), -1);
    expectStreams(b, { { &b, leaveNotice(false, a.address()) } });
}

} // namespace
