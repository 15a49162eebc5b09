// The names members go by: which data chunks name their sender, and how a name is kept,
// replaced and forgotten per roster entry.
#include "app/MemberNames.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct ChunkCase {
    const char* what;
    std::string chunk;
    std::optional<std::string> name; // nothing: the chunk names nobody
};

const std::vector<ChunkCase> kChunks = {
    { "first form", "小明\r\n你好", "小明" },
    { "continued form", "\r\n\r\n小明\r\n你好", "小明" },
    { "a body of several lines", "\r\n\r\nAmy\r\nline one\r\nline two", "Amy" },
    { "two messages in one chunk: the latest", "Amy\r\nhi\r\n\r\nBo\r\nyo", "Bo" },
    { "the longest name", std::string(kMaxMemberNameBytes, 'x') + "\r\nhi", std::string(kMaxMemberNameBytes, 'x') },
    { "a name one byte too long", std::string(kMaxMemberNameBytes + 1, 'x') + "\r\nhi", std::nullopt },
    { "a terminal's line", "你好\r\n", std::nullopt },
    { "text without a line end", "just text", std::nullopt },
    { "an empty sender line", "\r\nbody", std::nullopt },
    { "ends with a separator", "Amy\r\nhi\r\n\r\n", std::nullopt },
    { "an escape sequence in the sender line", "\x1b[31mX\r\nhi", std::nullopt },
    { "a NUL in the sender line", std::string("A\0B\r\nhi", 8), std::nullopt },
    { "only spaces", "   \r\nhi", std::nullopt },
    { "a lead byte without its trail byte", "A\xd6\r\nhi", std::nullopt },
    { "a byte that starts no character", "\xff\xfe\r\nhi", std::nullopt },
};

TEST(MemberNames, SenderLineOfAChunk)
{
    for (const ChunkCase& test : kChunks) {
        SCOPED_TRACE(test.what);
        std::optional<std::string_view> name = senderNameOf(test.chunk);
        ASSERT_EQ(name.has_value(), test.name.has_value());
        if (name) {
            EXPECT_EQ(*name, *test.name);
        }
    }
}

TEST(MemberNames, KeptPerEntryTheLatestWinsAndForgottenOnLeave)
{
    std::vector<std::pair<std::string, std::string>> shown;
    MemberNames names([&](std::string_view entry, std::string_view name) { shown.emplace_back(entry, name); });
    const std::string a = "127.0.0.1:4001";
    const std::string b = "127.0.0.1:4002";

    names.heard(a, "小明\r\n你好");
    names.heard(a, "\r\n\r\n小明\r\n又是我"); // the same name: nothing to show
    names.heard(a, "plain line\r\n");        // not in the form: the name stays
    names.heard(b, "Bo\r\nhi");
    names.heard(a, "\r\n\r\n小红\r\n改名了");
    EXPECT_FALSE(names.setName(b, "bad\r\nname"));
    EXPECT_EQ(names.nameOf(a), "小红");
    EXPECT_EQ(names.nameOf(b), "Bo");
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>> { { a, "小明" }, { b, "Bo" }, { a, "小红" } }));

    names.forget(a);
    EXPECT_EQ(names.nameOf(a), "");
    EXPECT_EQ(names.nameOf(b), "Bo");
}

} // namespace
