// Unit tests of how a value's path splits into its key and its value name: at the last
// backslash that is a character of its own in code page 936, never at a double-byte
// character's second byte.
#include "store/RegistryPath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(SplitRegistryPath, SplitsAtTheLastRealBackslash)
{
    struct Case {
        std::string path;
        std::string key;
        std::string valueName;
    };
    const Case cases[] = {
        { "SOFTWARE\\聊天室\\机器人\\127.0.0.1:5000", "SOFTWARE\\聊天室\\机器人", "127.0.0.1:5000" },
        { "SOFTWARE\\聊天室\\机器人\\次数", "SOFTWARE\\聊天室\\机器人", "次数" },
        { "SOFTWARE\\聊天室\\机器人\\", "SOFTWARE\\聊天室\\机器人", "" },
        { "SOFTWARE\\聊天室\\机器人", "SOFTWARE\\聊天室", "机器人" },
        { "name", "", "name" },
        { "", "", "" },
        { "\\name", "", "name" },
        // A value name holding a backslash moves the split.
        { "K\\host\\name", "K\\host", "name" },
        // 0x95 0x5C is one character: its second byte is no separator.
        { "K\x95\\X\\v", "K\x95\\X", "v" },
        { "K\\\x95\\", "K", "\x95\\" },
        { "\x95\\", "", "\x95\\" },
        // A path ends at its first NUL.
        { "K\\v\0w\\x"s, "K", "v" },
    };
    for (const Case& c : cases) {
        RegistryPath split = splitRegistryPath(c.path);
        EXPECT_EQ(split.key, c.key) << c.path;
        EXPECT_EQ(split.valueName, c.valueName) << c.path;
    }
}

} // namespace
