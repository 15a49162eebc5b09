// Code page 936 to UTF-8 on every backend: the same bytes must come out on Linux (iconv) and
// Windows (MultiByteToWideChar), also for bytes that are not valid code page 936; and back.
#include "runtime/Cp936.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Cp936ToUtf8, InvalidBytesBecomeReplacementCharactersAlike)
{
    struct Case {
        std::string cp936;
        std::string utf8;
    };
    const std::string kReplacement = "\xEF\xBF\xBD";
    const Case cases[] = {
        { "\x80", "\xE2\x82\xAC" }, // the euro sign, the one single-byte character above 0x7F
        { "\xC1\xC4" "a", "\xE8\x81\x8A" "a" }, // 聊
        { "\x81\x40", "\xE4\xB8\x82" }, // the first two-byte character
        { std::string("a\0b", 3), std::string("a\0b", 3) },
        // A lead byte without a valid second byte: one mark, and the next byte stands alone.
        { "\x81\x7F", kReplacement + "\x7F" },
        { "\x81" "0", kReplacement + "0" },
        { "\xFF" "a", kReplacement + "a" },
        // The user-defined area has no characters; its second byte may start the next one.
        { "\xAA\xA1", kReplacement + kReplacement },
        { "\xAA\xA1\xA1", kReplacement + "\xE3\x80\x80" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp936ToUtf8(c.cp936), c.utf8);
}

TEST(Utf8ToCp936, CharactersWithoutAFormBecomeOneQuestionMarkEach)
{
    struct Case {
        std::string utf8;
        std::string cp936;
    };
    const Case cases[] = {
        { "", "" },
        { std::string("a\0b\r\n", 5), std::string("a\0b\r\n", 5) },
        { "\xE8\x81\x8A\xE5\xA4\xA9", "\xC1\xC4\xCC\xEC" }, // 聊天
        { "\xE2\x82\xAC", "\x80" }, // the euro sign
        { "a\xF0\x9F\x98\x80" "b", "a?b" }, // an emoji, beyond the BMP: one mark
        { "\xE0\xB8\x81\xE8\x81\x8A", "?\xC1\xC4" }, // Thai, then 聊
        { "\xEF\xBF\xBD", "?" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(utf8ToCp936(c.utf8), c.cp936) << c.utf8;
}

TEST(Cp936ToUtf8, LinesEndWithLineFeedsOnly)
{
    EXPECT_EQ(cp936ToUtf8Lines("a\r\nb\r\n\r\nc\rd\n"), "a\nb\n\nc\rd\n");
}

} // namespace
