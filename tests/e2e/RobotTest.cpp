// The robot's answers: the last line of each chunk is looked up in the word library beside the
// program, and the first keyword it contains is answered to the whole room.
#include "RoomTest.h"

#include <fstream>
#include <sstream>

namespace {

class Robot : public RoomTest { };

struct AnswerCase {
    std::string data;
    std::string reply; // empty: no answer
};

TEST_F(Robot, AnswersTheLastLineOfEachChunk)
{
    const AnswerCase cases[] = {
        { "你好吗", "你好呀" }, // the first keyword in file order wins
        { "好的", "嗯" },
        { "今天天气怎么样", "晴天" }, // the entry's third line is no part of the reply
        { "hello", "" },
        { "你好\r\nabc", "" }, // only the last line counts
        { "abc\r\n好的\r\n", "嗯" }, // a final CR LF ends the last line
        { "你好吗\r\n\r\n", "" }, // the last line is empty
        { bytesOf("abc\0你好"), "" }, // the text ends at the first NUL
        { bytesOf("\0你好"), "" },
        { "岛民", "" }, // holds the bytes of 好 across two characters
        { "@开启", "" }, // no vote while the robot is on
    };

    startServer();
    auto [sender, other] = connectClients<2>();
    syncByProbe(other);
    for (const AnswerCase& answer : cases) {
        SCOPED_TRACE(::testing::PrintToString(answer.data));
        sender.send(answer.data);
        expectAllReceive(answer.data + (answer.reply.empty() ? "" : robotSays(answer.reply)));
        // Nothing more: the next bytes are the probe's.
        syncByProbe(other);
    }
}

TEST_F(Robot, AnswersWithTheShippedLibrary)
{
    std::ifstream file(CHATROOM_REPLY_INI, std::ios::binary);
    std::ostringstream read;
    read << file.rdbuf();
    std::string library = read.str();
    // The first entry: its keyword line and its reply line.
    size_t keywordEnd = library.find("\r\n");
    ASSERT_NE(keywordEnd, std::string::npos) << "the shipped library has no CR LF";
    std::string keyword = library.substr(0, keywordEnd);
    size_t replyEnd = library.find("\r\n", keywordEnd + 2);
    std::string reply = library.substr(keywordEnd + 2, replyEnd == std::string::npos ? std::string::npos : replyEnd - keywordEnd - 2);
    ASSERT_FALSE(keyword.empty());
    ASSERT_FALSE(reply.empty());

    startServer(library);
    LoopbackClient& client = connectClient();
    client.send(keyword);
    expectReceives(client, keyword + robotSays(reply));
    syncByProbe(client);
    EXPECT_EQ(server().stop(), 0) << server().standardError();
    EXPECT_FALSE(server().toldAdministrator(kErrorCaption, kMissingLibraryText)) << server().standardError();
}

} // namespace
