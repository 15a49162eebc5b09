// The control protocol's lines: which requests are taken and what they mean, and how the
// command reads an answer, whole or not.
#include "admin/AdminProtocol.h"

#include <gtest/gtest.h>


namespace {

struct RequestCase {
    std::string line;
    std::optional<AdminVerb> verb; // nothing: malformed
    std::string address;
};

const std::vector<RequestCase> kRequests = {
    { "list", AdminVerb::List, "" },
    { "list\r", AdminVerb::List, "" },
    { "close", AdminVerb::Close, "" },
    { "names", AdminVerb::Names, "" },
    { "kick 127.0.0.1:4000", AdminVerb::Kick, "127.0.0.1:4000" },
    { " \tprank   10.0.0.2:1 \t", AdminVerb::Prank, "10.0.0.2:1" },
    { "mute x", AdminVerb::Mute, "x" }, // not on any roster, but well formed
    { "", std::nullopt, "" },
    { "LIST", std::nullopt, "" },
    { "bogus", std::nullopt, "" },
    { "kick", std::nullopt, "" },
    { "list all", std::nullopt, "" },
    { "names 127.0.0.1:1", std::nullopt, "" },
    { "shake 127.0.0.1:1 127.0.0.1:2", std::nullopt, "" },
    { "quake 127.0.0.1:1\x01", std::nullopt, "" },
    { "reward \xd6\xd0", std::nullopt, "" },
    { "list\n", std::nullopt, "" },
    { "kick " + std::string(kMaxAdminRequestBytes, '1'), std::nullopt, "" },
};

TEST(AdminProtocol, RequestLines)
{
    for (const RequestCase& test : kRequests) {
        SCOPED_TRACE(test.line);
        std::string problem;
        std::optional<AdminRequest> request = parseAdminRequest(test.line, problem);
        ASSERT_EQ(request.has_value(), test.verb.has_value()) << problem;
        if (!request) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        EXPECT_EQ(request->verb, *test.verb);
        EXPECT_EQ(request->address, test.address);
        // What the command sends is read back as the same request.
        std::string sent = formatAdminRequest(*request);
        ASSERT_EQ(sent.back(), '\n');
        std::optional<AdminRequest> again = parseAdminRequest(std::string_view(sent).substr(0, sent.size() - 1), problem);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->verb, request->verb);
        EXPECT_EQ(again->address, request->address);
    }
}

TEST(AdminProtocol, WholeAnswersAreRead)
{
    std::optional<AdminReply> list = parseAdminReply(clientLine("1.1.1.1:1") + clientLine("2.2.2.2:2") + statusLine(AdminStatus::Ok, "2 clients"));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, AdminStatus::Ok);
    EXPECT_EQ(list->clients, (std::vector<std::string> { "1.1.1.1:1", "2.2.2.2:2" }));

    // A member's name follows its address on the line, whatever it holds: a space, or
    // bytes that would end the line early or smuggle in a second one.
    std::optional<AdminReply> names = parseAdminReply(namedClientLine("1.1.1.1:1", "小 明") + namedClientLine("2.2.2.2:2", "")
        + namedClientLine("3.3.3.3:3", "x\nok\r\x1b") + statusLine(AdminStatus::Ok, "3 on the roster"));
    ASSERT_TRUE(names);
    EXPECT_EQ(names->clients, (std::vector<std::string> { "1.1.1.1:1 小 明", "2.2.2.2:2", "3.3.3.3:3 x?ok??" }));

    // A message cannot end its line early or smuggle in a second one.
    std::optional<AdminReply> refused = parseAdminReply(statusLine(AdminStatus::NoSuchClient, "x\nok\r"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, AdminStatus::NoSuchClient);
    EXPECT_EQ(refused->message, "x?ok?");

    for (ControlProblem problem : { ControlProblem::NotPermitted, ControlProblem::TooLong, ControlProblem::Unterminated, ControlProblem::Dropped, ControlProblem::Closing, ControlProblem::Crowded }) {
        std::optional<AdminReply> answer = parseAdminReply(answerForProblem(problem));
        ASSERT_TRUE(answer);
        EXPECT_NE(answer->status, AdminStatus::Ok);
    }
}

TEST(AdminProtocol, CutOrTrailingAnswersAreNotRead)
{
    for (std::string text : { "", "client 1.1.1.1:1\n", "ok", "client 1.1.1.1:1\nok", "ok\nclient 1.1.1.1:1\n", "hello\n", "ok\nok\n" })
        EXPECT_FALSE(parseAdminReply(text)) << text;
}

} // namespace
