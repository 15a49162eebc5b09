// The robot: the word library's parsing rules, the first-keyword match, a vote that meets a
// poll whose count an earlier run left past three, and votes that the store cannot record.
#include "app/RoomFixture.h"
#include "app/Robot.h"
#include "store/TempConfigHome.h"

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace app_test;

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs parse(const std::string& library)
{
    TextArray keys;
    TextArray replies;
    appendWordLibrary(library, keys, replies);
    EXPECT_EQ(keys.elementCount(), replies.elementCount());
    Pairs pairs;
    for (int32_t i = 1; i <= keys.elementCount(); ++i)
        pairs.emplace_back(keys.elementAt(i), replies.elementAt(i));
    return pairs;
}

TEST(WordLibrary, ParsingRules)
{
    struct Case {
        const char* what;
        std::string library;
        Pairs expected;
    };
    const std::vector<Case> cases = {
        { "two entries", "你好\r\n你好呀\r\n\r\n好\r\n嗯", { { "你好", "你好呀" }, { "好", "嗯" } } },
        { "trailing line end", "a\r\nb\r\n", { { "a", "b" } } },
        { "a third line is ignored", "a\r\nb\r\nc\r\n\r\nd\r\ne", { { "a", "b" }, { "d", "e" } } },
        { "three line ends make an empty keyword", "a\r\nb\r\n\r\n\r\nc\r\nd", { { "a", "b" }, { "", "c" } } },
        { "a keyword alone is skipped", "a\r\nb\r\n\r\nlonely", { { "a", "b" } } },
        { "a keyword with only a line end is skipped", "a\r\nb\r\n\r\nlonely\r\n", { { "a", "b" } } },
        { "LF alone is no line end", "a\nb\n\nc\nd\n", {} },
        { "the text ends at a NUL", std::string("a\r\nb\0\r\n\r\nc\r\nd", 12), { { "a", "b" } } },
        { "empty", "", {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.library), c.expected) << c.what;
}

TEST(WordLibrary, AppendsBehindWhatIsThere)
{
    TextArray keys({ "k" });
    TextArray replies({ "r" });
    appendWordLibrary("a\r\nb", keys, replies);
    EXPECT_EQ(keys.items(), (std::vector<std::string> { "k", "a" }));
    EXPECT_EQ(replies.items(), (std::vector<std::string> { "r", "b" }));
}

TEST(WordLibrary, FirstKeywordInFileOrderWins)
{
    PosixValueStore store;
    PosixFiles files;
    createServiceState(store, files);
    appendWordLibrary("你好\r\n你好呀\r\n\r\n好\r\n嗯", service().replyKeys, service().replyTexts);
    EXPECT_EQ(matchReply("你好吗"), "你好呀");
    EXPECT_EQ(matchReply("好的"), "嗯");
    EXPECT_EQ(matchReply("再见"), "");
    EXPECT_EQ(matchReply(""), "");
    // "岛民" holds the bytes of "好" across its two characters: no match inside a character.
    EXPECT_EQ(matchReply("岛民"), "");

    // An empty keyword answers every non-empty line that no earlier keyword matched.
    appendWordLibrary("\r\n\r\n\r\n兜底\r\n", service().replyKeys, service().replyTexts);
    EXPECT_EQ(matchReply("再见"), "兜底");
    EXPECT_EQ(matchReply(""), "");
    releaseServiceState();
}

using RobotVote = Room;

TEST_F(RobotVote, APollLeftPastThreeDecidesAtTheNextVote)
{
    TempConfigHome configHome(m_store);
    service().robotEnabled = 1;
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kVoteCountPath, std::string_view("5")));
    LoopbackClient& voter = connectClient();
    const std::string vote = "@关闭";
    ASSERT_TRUE(voter.trySend(vote));
    const std::string decided = vote + robotSays(kClosed);
    EXPECT_TRUE(waitForBytes(voter, decided.size()));
    EXPECT_EQ(voter.unread(), decided);
    EXPECT_EQ(service().robotEnabled, 0);
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, kVoteCountPath));
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, kVoteKey));
}

// Another program's hold on the store file, through a connection of its own: `begin` runs when
// it is made and `end` when it goes.
class StoreObstacle {
public:
    StoreObstacle(const std::string& file, const std::string& begin, std::string end)
        : m_end(std::move(end))
    {
        if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK
            || sqlite3_exec(m_db, begin.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            ADD_FAILURE() << begin << ": " << sqlite3_errmsg(m_db);
    }
    ~StoreObstacle()
    {
        if (sqlite3_exec(m_db, m_end.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            ADD_FAILURE() << m_end << ": " << sqlite3_errmsg(m_db);
        sqlite3_close_v2(m_db);
    }
    StoreObstacle(const StoreObstacle&) = delete;
    StoreObstacle& operator=(const StoreObstacle&) = delete;

private:
    sqlite3* m_db = nullptr;
    std::string m_end;
};

// A vote the store cannot record is not announced and leaves nothing behind: once the store
// works again, the same voter's vote counts.
TEST_F(RobotVote, AVoteTheStoreCannotRecordIsNotAnnounced)
{
    struct Obstacle {
        const char* what;
        std::string begin;
        std::string end;
    };
    const std::vector<Obstacle> obstacles = {
        { "another program holds the write lock", "BEGIN IMMEDIATE", "ROLLBACK" },
        // Writes of anything but "1" fail: the voter's mark goes in, the count of two does not.
        { "the store fails halfway", "CREATE TRIGGER refuse BEFORE INSERT ON registry_values WHEN NEW.data <> X'3100'"
                                     " BEGIN SELECT RAISE(ABORT, 'disk full'); END",
            "DROP TRIGGER refuse" },
    };
    const std::string vote = "@关闭";
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.what);
        TempConfigHome configHome(m_store);
        service().robotEnabled = 1;
        // An earlier voter's vote: the one that fails must not be told as the second.
        ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kVoteCountPath, std::string_view("1")));
        LoopbackClient& voter = connectClient();
        const std::string voterPath = std::string(kVoteKey) + "\\" + voter.address();
        {
            StoreObstacle hold(configHome.storeFile(), obstacle.begin, obstacle.end);
            ASSERT_TRUE(voter.trySend(vote));
            // The relay comes before the robot's steps, in the same handler.
            ASSERT_TRUE(waitForBytes(voter, vote.size()));
        }
        EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, voterPath));
        EXPECT_EQ(m_store.readText(kRootCurrentUser, kVoteCountPath), "1");

        ASSERT_TRUE(voter.trySend(vote));
        ASSERT_TRUE(waitForBytes(voter, 2 * vote.size()));
        expectStreams(voter, { { &voter, vote + vote + "\r\n\r\nVelqo机器人\r\n还需要1个人才能关闭我哦！" } });
        EXPECT_EQ(m_store.readText(kRootCurrentUser, kVoteCountPath), "2");
        EXPECT_EQ(m_store.readText(kRootCurrentUser, voterPath), "1");
        EXPECT_EQ(service().robotEnabled, 1);
    }
}

} // namespace
