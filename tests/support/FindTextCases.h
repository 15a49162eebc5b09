// Where findText finds a text, case by case: the rules of every text (character starts, the
// two-byte characters, the text ending at its first NUL) and the shapes of the marker store's
// lines (addresses that end alike, a last line not yet complete). The text runtime's tests
// check findText on them, the console's tests the edit box's marker search, which must agree.
#pragma once

#include <cstdint>
#include <string_view>

namespace test_support {

using namespace std::string_view_literals;

struct FindCase {
    std::string_view text;
    std::string_view sought;
    int32_t expected;
};

inline constexpr FindCase kFindCases[] = {
    { "abc", "", 1 },
    { "", "", -1 },
    { {}, {}, -1 },
    { "", "a", -1 },
    { "abc", "a", 1 },
    { "abc", "c", 3 },
    { "abcabc", "bc", 2 },   // first of two occurrences
    { "abc", "abc", 1 },
    { "ab", "abc", -1 },     // sought longer than the text
    { "ABC", "abc", -1 },    // case-sensitive
    { "abc", "ABC", -1 },
    { "abc", "x", -1 },
    // The second byte of a two-byte character equals the sought byte: not a match there.
    { "\xB0\x41" "A", "A", 3 },
    { "\xB0\x41", "A", -1 },
    { "x\xB0\x41", "A", -1 },
    // No match across the boundary between two characters either.
    { "\xB9\xDC\xC0\xED", "\xDC\xC0", -1 },
    { "管理员", "理", 3 },
    { "管理员", "员", 5 },
    { "聊天室：机器人", "：", 7 },
    // A lone lead byte at the end is still a position of its own.
    { "ab\xB0", "\xB0", 3 },
    { "ab\xB0", "b\xB0", 2 },
    { "a\xB0", "x", -1 },
    { "\xB0", "\xB0", 1 },
    { "a\xB0", "\xB0x", -1 },
    { "a\xB0\0" "x"sv, "x", -1 }, // the scan stops at the lead byte, not past the NUL
    // The text ends at its first NUL.
    { "ab\0c"sv, "c", -1 },
    // The marker store's lines: each an address, "=1" and CR LF.
    { "", "=1", -1 },
    { "a:1=1\r\n", "", 1 },
    { "=1\r\n", "=1", 1 },
    { "a:1=1\r\nb:2=1\r\n", "b:2=1", 8 },
    { "a:1=1\r\nb:2=1\r\n", "b:3=1", -1 },
    { "a:1=1\r\n", "A:1=1", -1 },
    // One address ends the other: the shorter counts as marked by the longer's line, not the
    // other way round.
    { "1.2.3.4:80=1\r\n", "11.2.3.4:80=1", -1 },
    { "11.2.3.4:80=1\r\n", "1.2.3.4:80=1", 2 },
    // Two-byte characters: a match never starts on a character's second byte.
    { "\xC4\xE3\xBA\xC3", "\xE3\xBA", -1 },
    { "\xC4\xE3\xBA\xC3", "\xBA\xC3", 3 },
    { "\xB9\xDC" "A=1\r\n", "\xDC" "A", -1 },
    { "\xB9\xDC" "A=1\r\n", "A=1", 3 },
    { "管理员1.2.3.4:80=1\r\n", "1.2.3.4:80=1", 7 },
    { "1.2.3.4:80=1\r\n", "管", -1 },
    // A last line whose end is not complete: "=1" is there or not yet.
    { "a:1=1\r\n1.2.3.4:80=1", "1.2.3.4:80=1", 8 },
    { "1.2.3.4:80=1\r", "1.2.3.4:80=1", 1 },
    { "1.2.3.4:80=", "1.2.3.4:80=1", -1 },
    { "a:1=1\r\n1.2.3.4:80", "1.2.3.4:80=1", -1 },
    // Texts that a line's end cannot hold match across lines.
    { "a:1=1\r\nb:2=1\r\n", "1\r\nb:2=1", 5 },
    { "a:1=1\r\nb:2=1\r\n", "a:1=1\r\nb:2=1", 1 },
    // Lines that end alike: the first whose text ends with the address answers.
    { "9.1.2.3.4:80=1\r\n1.2.3.4:80=1\r\n", "1.2.3.4:80=1", 3 },
    { "1.2.3.4:80=1\r\n9.1.2.3.4:80=1\r\n", "1.2.3.4:80=1", 1 },
    { "5.6:7=1\r\n4.5.6:7=1\r\n", "5.6:7=1", 1 },
};

} // namespace test_support
