// Pages of the message format of version 2 against the built program: a late joiner gets the
// room's history and then `live`, a notice to one member stays out of everybody's history,
// the own flag follows the connection and not the nickname, a page that takes up its session
// again gets exactly what it missed, once and in order, while the room sees no leave, and the
// roster is told at most once a second however often it changes.
#include "RoomTest.h"

#include "web/Base64.h"

#include <nlohmann/json.hpp>

#include <span>
#include <thread>

using nlohmann::json;

namespace {

constexpr std::string_view kPageProtocol = "chatroom.v2";

std::string base64Of(std::string_view bytes)
{
    return base64Encode(std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

class PageFormat : public RoomTest {
protected:
    void prepareServer(ServerProcess& server) override { server.setArguments(m_arguments, ServerProcess::kWebPort); }

    // A page: the handshake with the subprotocol, its welcome read.
    LoopbackClient& openPage(std::string query = {})
    {
        LoopbackClient::ConnectOptions asPage;
        asPage.webSocket = true;
        asPage.webProtocol = std::string(kPageProtocol);
        asPage.webQuery = std::move(query);
        LoopbackClient& page = connectClient(asPage);
        EXPECT_EQ(page.webProtocol(), kPageProtocol);
        m_welcome = nextFrame(page);
        EXPECT_EQ(m_welcome.value("type", ""), "welcome");
        return page;
    }
    // A page that has given its name: it is a member now and is replayed the history.
    LoopbackClient& joinPage(std::string_view name)
    {
        LoopbackClient& page = openPage();
        page.sendText(json { { "type", "name" }, { "name", name } }.dump());
        return page;
    }

    // The next frame, ignoring the roster and pings.
    static json nextFrame(LoopbackClient& page)
    {
        for (;;) {
            std::string text = page.readServerText();
            if (text.empty())
                return json { { "type", "nothing came" } };
            json frame = json::parse(text);
            if (frame["type"] != "members" && frame["type"] != "ping")
                return frame;
        }
    }
    // The messages up to `live`: their frames.
    static std::vector<json> replayed(LoopbackClient& page)
    {
        std::vector<json> frames;
        for (json frame = nextFrame(page); frame["type"] == "message"; frame = nextFrame(page))
            frames.push_back(frame);
        return frames;
    }
    static std::string textOf(const json& frame) { return textInCp936(frame.value("text", "")); }

    std::vector<std::string> m_arguments;
    json m_welcome;
};

TEST_F(PageFormat, ALateJoinerGetsTheHistoryThenLiveThenTheRoom)
{
    startServer();
    auto [talker, listener] = connectRoom<2>();
    talker.send("A\r\n你好");
    expectAllReceive("A\r\n你好" + robotSays("你好呀"));
    listener.close();
    expectReceives(talker, leaveNotice(true, listener.address()));

    LoopbackClient& page = joinPage(utf8(u8"小红"));
    std::vector<json> history = replayed(page);
    // The room's sync probe came first.
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[0]["data"], base64Of(kProbe));
    history.erase(history.begin());
    EXPECT_EQ(history[0]["kind"], "relay");
    EXPECT_EQ(history[0]["sender"], talker.address());
    EXPECT_EQ(history[0]["data"], base64Of("A\r\n你好"));
    EXPECT_EQ(history[0]["own"], false);
    EXPECT_EQ(history[1]["kind"], "server");
    EXPECT_EQ(textOf(history[1]), robotSays("你好呀"));
    EXPECT_EQ(textOf(history[2]), leaveNotice(true, listener.address()));
    for (size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history[i]["seq"], i + 2);
        EXPECT_EQ(history[i]["history"], true);
    }
    // Live from here on, without the history mark.
    talker.send("B\r\nlive");
    json live = nextFrame(page);
    EXPECT_EQ(live["seq"], 5);
    EXPECT_FALSE(live.contains("history"));
    EXPECT_EQ(live["data"], base64Of("B\r\nlive"));
}

TEST_F(PageFormat, ANoticeToOneMemberIsInNobodysHistory)
{
    startServer();
    auto [talker, shaken] = connectRoom<2>();
    ASSERT_EQ(admin({ "shake", shaken.address() }).status, 0);
    expectReceives(shaken, administratorNotice(true, kShakeBody));
    talker.send("after");
    expectAllReceive("after");
    LoopbackClient& page = joinPage("p");
    std::vector<json> history = replayed(page);
    // The probe of the room's sync and "after": relayed bytes only.
    for (const json& frame : history)
        EXPECT_EQ(frame["kind"], "relay") << frame.dump();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back()["data"], base64Of("after"));
}

TEST_F(PageFormat, TheOwnFlagFollowsTheConnectionNotTheNickname)
{
    startServer();
    LoopbackClient& first = joinPage("same");
    std::string firstAddress = m_welcome["address"];
    EXPECT_EQ(firstAddress, first.address());
    ASSERT_TRUE(replayed(first).empty());
    LoopbackClient& second = joinPage("same");
    ASSERT_TRUE(replayed(second).empty());
    std::string text = utf8(u8"same\r\n一样的名字");
    first.sendText(json { { "type", "send" }, { "text", text } }.dump());
    for (auto [page, own] : { std::pair { &first, true }, std::pair { &second, false } }) {
        json message = nextFrame(*page);
        EXPECT_EQ(message["own"], own);
        EXPECT_EQ(message["sender"], firstAddress);
        EXPECT_EQ(message["text"], text);
        EXPECT_EQ(message["data"], base64Of(textInCp936(text)));
    }
}

// A page that comes back with its session after SEQ is the same member and gets exactly the
// messages after SEQ that the history still holds (missed counts the others), once and in
// order, and the room saw no leave: whether its old connection was still open (ended with
// 1000) or was cut off without a close frame (within the grace period).
TEST_F(PageFormat, AResumeAfterASeqGetsExactlyTheMissedItemsOnceInOrder)
{
    struct Case {
        std::vector<std::string> arguments;
        bool cutOff;
        size_t expectedMissed;
        size_t expectedReplayed;
    };
    const Case cases[] = { { {}, false, 0, 3 }, { { "--history", "2" }, false, 1, 2 }, { {}, true, 0, 3 } };
    for (const Case& run : cases) {
        SCOPED_TRACE(::testing::PrintToString(run.arguments) + (run.cutOff ? " cut off" : " still open"));
        m_arguments = run.arguments;
        startServer();
        LoopbackClient& talker = connectClient();
        LoopbackClient& page = joinPage("p");
        std::string session = m_welcome["session"];
        std::string address = m_welcome["address"];
        replayed(page);
        talker.send("seen");
        uint64_t seen = nextFrame(page)["seq"];
        expectReceives(talker, "seen");
        if (run.cutOff)
            page.close();
        for (std::string missed : { "m1", "m2", "m3" }) {
            talker.send(missed);
            expectReceives(talker, missed);
        }
        LoopbackClient& again = openPage("?session=" + session + "&after=" + std::to_string(seen));
        EXPECT_EQ(m_welcome["resumed"], true);
        EXPECT_EQ(m_welcome["address"], address);
        EXPECT_EQ(m_welcome["missed"], run.expectedMissed);
        std::vector<json> items = replayed(again);
        ASSERT_EQ(items.size(), run.expectedReplayed);
        for (size_t i = 0; i < items.size(); ++i)
            EXPECT_EQ(items[i]["seq"], seen + run.expectedMissed + 1 + i);
        EXPECT_EQ(items.back()["data"], base64Of("m3"));
        if (!run.cutOff) {
            page.readToEnd();
            EXPECT_EQ(page.closeCode(), 1000);
        }
        // The room carries on with the same member, unannounced.
        talker.send("next");
        expectReceives(talker, "next");
        json next = nextFrame(again);
        EXPECT_EQ(next["data"], base64Of("next"));
        EXPECT_EQ(next["seq"], seen + 4);
        EXPECT_TRUE(talker.unread().empty());
        restartServer();
    }
}

// Past the grace period the room hears the leave, as of any member.
TEST_F(PageFormat, PastTheGracePeriodTheLeaveIsAnnounced)
{
    constexpr int kWellPastTheGracePeriodMs = 60000;
    startServer();
    LoopbackClient& talker = connectClient();
    LoopbackClient& page = joinPage("p");
    std::string address = m_welcome["address"];
    replayed(page);
    talker.send("x");
    expectReceives(talker, "x");
    page.close();
    std::string notice = leaveNotice(true, address);
    EXPECT_EQ(talker.readExactly(notice.size(), kWellPastTheGracePeriodMs), notice);
}

// Names go both ways: a page's nickname names its entry for the administrator before it says
// anything, and a TCP client's sender line names it in the pages' list of members.
TEST_F(PageFormat, NamesReachTheAdministratorAndThePages)
{
    startServer();
    LoopbackClient& tcp = connectClient();
    tcp.send("老王\r\nhi");
    expectReceives(tcp, "老王\r\nhi");
    LoopbackClient& page = joinPage(utf8(u8"小红"));
    std::string pageAddress = m_welcome["address"];
    const json expected = json::array({ json { { "address", tcp.address() }, { "name", utf8(u8"老王") }, { "web", false } },
        json { { "address", pageAddress }, { "name", utf8(u8"小红") }, { "web", true } } });
    json members;
    for (int frames = 0; frames < 20 && members != expected; ++frames) {
        std::string text = page.readServerText();
        if (text.empty())
            break;
        if (json frame = json::parse(text); frame["type"] == "members")
            members = frame["members"];
    }
    EXPECT_EQ(members, expected);
    CommandResult names = admin({ "names" });
    EXPECT_EQ(names.output, tcp.address() + utf8(u8" 老王\n") + pageAddress + utf8(u8" 小红\n")) << names.error;
}

// Members joining and leaving all the time cost a page at most one roster a second, and the
// last one it is told, once the room has gone quiet, is the roster as it stands.
TEST_F(PageFormat, TheRosterIsToldAtMostOnceASecondHoweverOftenItChanges)
{
    constexpr int kChurners = 20;
    // Apart, so that the joins and leaves fall into rounds of their own.
    constexpr auto kChurnGap = std::chrono::milliseconds(50);
    constexpr auto kQuietWait = std::chrono::seconds(15);
    startServer();
    auto started = std::chrono::steady_clock::now();
    LoopbackClient& page = joinPage("page");
    std::string pageAddress = m_welcome["address"];
    for (int i = 0; i < kChurners; ++i) {
        connectClient().close();
        std::this_thread::sleep_for(kChurnGap);
    }
    LoopbackClient& stays = connectClient();
    const json expected = json::array({ json { { "address", pageAddress }, { "name", "page" }, { "web", true } },
        json { { "address", stays.address() }, { "name", nullptr }, { "web", false } } });

    int rosters = 0;
    json last;
    for (auto giveUp = std::chrono::steady_clock::now() + kQuietWait; last != expected && std::chrono::steady_clock::now() < giveUp;) {
        std::string text = page.readServerText(100);
        if (!text.empty() && json::parse(text)["type"] == "members") {
            ++rosters;
            last = json::parse(text)["members"];
        }
    }
    EXPECT_EQ(last, expected);
    // The first one, and one for each second begun since.
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(rosters, 2 + seconds) << "over " << seconds << " s";
}

} // namespace
