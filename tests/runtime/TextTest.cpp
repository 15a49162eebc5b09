// Unit tests of the text runtime: code page 936 literals, joining, comparing, searching,
// replacing and splitting texts, number conversions and text arrays. Two-byte characters
// are written as hex escapes so that the character step is visible in each case.
#include "runtime/Text.h"
#include "runtime/TextArray.h"
#include "support/FindTextCases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

std::vector<std::string> partsOf(const TextArray& array)
{
    std::vector<std::string> parts;
    for (int32_t i = 1; i <= array.elementCount(); ++i)
        parts.push_back(array.elementAt(i));
    return parts;
}

// The system's literals leave the compiler as code page 936 bytes; the wire, reply.ini
// and the value store all depend on it.
TEST(Cp936Literals, CompileToCodePage936Bytes)
{
    struct Case {
        std::string_view literal;
        std::string_view bytes;
    };
    const Case cases[] = {
        { "管理员", "B9DCC0EDD4B1" },
        { "聊天室", "C1C4CCECCAD2" },
        { "机器人", "BBFAC6F7C8CB" },
        { "Velqo机器人", "56656C716FBBFAC6F7C8CB" },
        { "：", "A3BA" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(c.literal), c.bytes) << c.bytes;
}

TEST(ConcatText, JoinsTwoToFourTextsInOrder)
{
    struct Case {
        std::vector<std::string_view> parts;
        std::string_view expected;
    };
    const Case cases[] = {
        { { "ab", "cd" }, "abcd" },
        { { "", "" }, "" },
        { { "", "x" }, "x" },
        { { "聊天室", "\r\n", "机器人" }, "聊天室\r\n机器人" },
        { { "a", "", "c", "d" }, "acd" },
        { { "1.2.3.4:5", "=1\r\n" }, "1.2.3.4:5=1\r\n" },
        // A text ends at its first NUL, even when the view holds more.
        { { "ab\0zz"sv, "cd" }, "abcd" },
    };
    for (const Case& c : cases) {
        std::string_view p[4];
        for (size_t i = 0; i < c.parts.size(); ++i)
            p[i] = c.parts[i];
        EXPECT_EQ(concatText(p[0], p[1], p[2], p[3]), c.expected) << hex(c.expected);
    }
}

TEST(TextLength, CountsBytesBeforeTheTerminator)
{
    EXPECT_EQ(textLength(""), 0);
    EXPECT_EQ(textLength({}), 0);
    EXPECT_EQ(textLength("abc"), 3);
    EXPECT_EQ(textLength("管理员"), 6);
    EXPECT_EQ(textLength("ab\0cd"sv), 2);
}

TEST(CompareText, OrdersByUnsignedBytes)
{
    struct Case {
        std::string_view a;
        std::string_view b;
        int expected;
    };
    const Case cases[] = {
        { {}, "", 0 }, // absent and empty are the same text
        { "", {}, 0 },
        { {}, {}, 0 },
        { "a", "", 1 },
        { "", "a", -1 },
        { "abc", "abc", 0 },
        { "abc", "abd", -1 },
        { "abd", "abc", 1 },
        { "ab", "abc", -1 },
        { "abc", "ab", 1 },
        { "ABC", "abc", -1 }, // no case folding
        { "a ", "a", 1 },     // no trimming
        { "\x80", "\x7F", 1 }, // bytes are unsigned: a lead byte sorts after ASCII
        { "\x7F", "\xFF", -1 },
        { "管理员", "管理员", 0 },
        { "管理员", "聊天室", -1 }, // B9 < C1
    };
    for (const Case& c : cases)
        EXPECT_EQ(compareText(c.a, c.b), c.expected) << '"' << hex(c.a) << "\" vs \"" << hex(c.b) << '"';
}

TEST(FindText, FirstOccurrenceAtACharacterStart)
{
    for (const test_support::FindCase& c : test_support::kFindCases)
        EXPECT_EQ(findText(c.text, c.sought), c.expected) << '"' << hex(c.text) << "\" seeking \"" << hex(c.sought) << '"';
}

TEST(ReplaceText, ReplacesEveryOccurrenceLeftToRight)
{
    struct Case {
        std::string_view text;
        std::string_view sought;
        std::string_view replacement;
        std::string_view expected;
    };
    const Case cases[] = {
        // Deleting the delivery marker of one client leaves the other's.
        { "1.2.3.4:5=1\r\n6.7.8.9:10=1\r\n1.2.3.4:5=1\r\n", "1.2.3.4:5=1\r\n", "", "6.7.8.9:10=1\r\n" },
        { "", "a", "b", "" },
        { {}, "a", "b", "" },
        { "abc", "", "x", "abc" }, // nothing sought: a copy
        { "abc", "b", "", "ac" },
        { "abc", "abc", "", "" },
        { "abc", "x", "y", "abc" },
        { "aaa", "aa", "b", "ba" },     // no overlapping occurrences
        { "xxy", "xy", "y", "xy" },     // the produced text is not searched again
        { "aaa", "a", "aa", "aaaaaa" },
        { "ABC", "abc", "x", "ABC" },
        { "ab", "abc", "x", "ab" },
        // A second byte that equals the sought byte stays, the real occurrence goes.
        { "\xB0\x41" "A", "A", "b", "\xB0\x41" "b" },
        { "\xB9\xDC\xC0\xED", "\xDC\xC0", "x", "\xB9\xDC\xC0\xED" },
        { "管理员", "理", "", "管员" },
        { "聊天室聊天室", "聊天室", "机器人", "机器人机器人" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(replaceText(c.text, c.sought, c.replacement), c.expected)
            << '"' << hex(c.text) << "\" replacing \"" << hex(c.sought) << '"';
}

TEST(SplitText, KeepsInnerEmptyPartsAndDropsAnEmptyRemainder)
{
    struct Case {
        std::string_view text;
        std::string_view separator;
        std::optional<int32_t> limit;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { "a\r\n\r\nb", "\r\n", std::nullopt, { "a", "", "b" } },
        { "a\r\n", "\r\n", std::nullopt, { "a" } },
        { "\r\nb", "\r\n", std::nullopt, { "", "b" } },
        { "\r\n", "\r\n", std::nullopt, { "" } },
        { "\r\n\r\n", "\r\n", std::nullopt, { "", "" } },
        { "a\r\nb\r\nc", "\r\n", std::nullopt, { "a", "b", "c" } },
        { "abc", "\r\n", std::nullopt, { "abc" } },
        { "ab", "abc", std::nullopt, { "ab" } },
        // The limit: a third part is dropped, not joined to the second.
        { "x\r\ny\r\nz", "\r\n", 2, { "x", "y" } },
        { "x\r\ny\r\nz", "\r\n", 1, { "x" } },
        { "x\r\ny\r\nz", "\r\n", 3, { "x", "y", "z" } },
        { "x\r\ny\r\nz", "\r\n", 100, { "x", "y", "z" } },
        { "x\r\ny\r\nz", "\r\n", 0, {} },
        { "x\r\ny\r\nz", "\r\n", -1, {} },
        { "x\r\ny\r\nz", "\r\n", std::numeric_limits<int32_t>::min(), {} },
        { "abc", "\r\n", 1, { "abc" } },
        // An empty separator gives the whole text; an empty text gives no parts at all.
        { "a\r\nb", "", std::nullopt, { "a\r\nb" } },
        { "a\r\nb", "", 1, { "a\r\nb" } },
        { "a\r\nb", "", 0, {} },
        { "", "\r\n", std::nullopt, {} },
        { {}, "\r\n", std::nullopt, {} },
        { "", "", std::nullopt, {} },
        // Separators are found at character starts only.
        { "\xB0\x41" "xAy", "A", std::nullopt, { "\xB0\x41" "x", "y" } },
        { "\xB0\x41", "A", std::nullopt, { "\xB0\x41" } },
        { "x,\xB0", ",", std::nullopt, { "x", "\xB0" } },
        { "聊天室：机器人：", "：", std::nullopt, { "聊天室", "机器人" } },
        { "聊天室\r\n\r\n机器人", "\r\n\r\n", std::nullopt, { "聊天室", "机器人" } },
    };
    for (const Case& c : cases) {
        TextArray parts = splitText(c.text, c.separator, c.limit);
        EXPECT_EQ(partsOf(parts), c.expected)
            << '"' << hex(c.text) << "\" by \"" << hex(c.separator) << "\" limit " << (c.limit ? std::to_string(*c.limit) : "none");
        EXPECT_EQ(parts.elementCount(), static_cast<int32_t>(c.expected.size()));
        // The last part on its own is the same as the last of all the parts.
        if (!c.limit) {
            std::optional<std::string_view> last = lastSplitPart(c.text, c.separator);
            EXPECT_EQ(last.has_value(), !c.expected.empty()) << hex(c.text);
            if (last && !c.expected.empty()) {
                EXPECT_EQ(std::string(*last), c.expected.back()) << hex(c.text);
            }
        }
    }
}

TEST(ToNumber, ReadsTheLeadingDecimalNumberAfterFullWidthFolding)
{
    struct Case {
        std::string_view text;
        double expected;
    };
    const Case cases[] = {
        { "\xA3\xB1\xA3\xB2", 12 }, // full-width 1 2
        { "3abc", 3 },
        { "abc", 0 },
        { "", 0 },
        { {}, 0 },
        { "42", 42 },
        { " \t\n\v\f\r42", 42 },
        { "\xA1\xA1" "7", 7 },       // ideographic space
        { "\xA1\xA1\xA3\xB7", 7 },
        { "+7", 7 },
        { "-7", -7 },
        { "\xA3\xAD\xA3\xB5", -5 },  // full-width minus and 5
        { "\xA3\xAB\xA3\xB3", 3 },   // full-width plus and 3
        { "\xA3\xB1\xA3\xAE\xA3\xB5", 1.5 }, // full-width point
        { "1.5", 1.5 },
        { "-.5", -0.5 },
        { ".5", 0.5 },
        { "5.", 5 },
        { "1e3", 1000 },
        { "1E-2", 0.01 },
        { "2e+2", 200 },
        { "1e", 1 },
        { "1e+", 1 },
        { "1ex", 1 },
        { "12abc34", 12 },
        { "1 2", 1 },
        { "- 5", 0 },
        { "+-5", 0 },
        { ".", 0 },
        { "e5", 0 },
        { "x1", 0 },
        // Decimal only: no hex, no names, even though the C library would read them.
        { "0x10", 0 },
        { "inf", 0 },
        { "nan", 0 },
        { "\xB0\x41" "5", 0 },
        { "5\0" "5"sv, 5 },
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(toNumber(c.text), c.expected) << '"' << hex(c.text) << '"';
}

TEST(ToNumber, OutOfRangeValuesBecomeInfinityOrZeroByMagnitude)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(toNumber("1e400"), inf);
    EXPECT_EQ(toNumber("-1e400"), -inf);
    EXPECT_EQ(toNumber("1e-400"), 0.0);
    EXPECT_EQ(toNumber("1e99999999999999999999999"), inf);
    EXPECT_EQ(toNumber("1e-99999999999999999999999"), 0.0);
    // The exponent's sign alone does not decide: these are 1e395 and 1e-401.
    EXPECT_EQ(toNumber("1" + std::string(400, '0') + "e-5"), inf);
    EXPECT_EQ(toNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(toNumber("0." + std::string(400, '0') + "1e800"), inf); // 1e399
    EXPECT_DOUBLE_EQ(toNumber("0." + std::string(400, '0') + "1e400"), 0.1);
    EXPECT_EQ(toNumber(std::string(400, '9')), inf);
}

TEST(ToText, FormatsDoublesWithThirteenSignificantDigits)
{
    struct Case {
        double value;
        std::string_view expected;
    };
    const Case cases[] = {
        { 1.0 + 1.0, "2" },
        { 0.5, "0.5" },
        { 0.0, "0" },
        { 100, "100" },
        { -1.5, "-1.5" },
        { 1.0 / 3.0, "0.3333333333333" },
        { 3.14159265358979, "3.14159265359" },
        { 123456789012.0, "123456789012" },
        { 1234567890123.0, "1234567890123" },
        { 1e13, "1e+13" },
        { 0.0001, "0.0001" },
        { 0.00001, "1e-05" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(toText(c.value), c.expected);
}

TEST(ToText, ByteBlockUpToTheFirstNul)
{
    EXPECT_EQ(toText(ByteBlock("ab\0cd"sv)), "ab");
    EXPECT_EQ(toText(ByteBlock("abcd"sv)), "abcd");
    EXPECT_EQ(toText(ByteBlock("\0ab"sv)), "");
    EXPECT_EQ(toText(ByteBlock()), "");
    EXPECT_EQ(toText(ByteBlock("聊天室\r\n"sv)), "聊天室\r\n");
}

TEST(ToInteger, TruncatesTowardZeroAndSaturates)
{
    const double inf = std::numeric_limits<double>::infinity();
    const int32_t max = std::numeric_limits<int32_t>::max();
    const int32_t min = std::numeric_limits<int32_t>::min();
    struct Case {
        double value;
        int32_t expected;
    };
    const Case cases[] = {
        { 2.9, 2 },
        { -2.9, -2 },
        { 0.0, 0 },
        { -0.5, 0 },
        { 3.0 - 1.0, 2 }, // a 1-based position turned into a 0-based index
        { 2147483646.9, 2147483646 },
        { 2147483647.0, max },
        { 2147483647.5, max },
        { 2147483648.0, max },
        { 1e300, max },
        { inf, max },
        { -2147483647.9, -2147483647 },
        { -2147483648.0, min },
        { -2147483648.9, min },
        { -1e300, min },
        { -inf, min },
        { std::nan(""), 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(toInteger(c.value), c.expected) << c.value;
}

TEST(TextArray, FreshArrayIsEmpty)
{
    TextArray array;
    EXPECT_EQ(elementCount(array), 0);
}

TEST(TextArray, AppendedElementsAreReadBackInOrder)
{
    TextArray array;
    std::string keyword = "聊天室";
    appendElement(array, keyword);
    keyword = "changed"; // the array holds its own copy
    appendElement(array, "");
    appendElement(array, "机器人");
    ASSERT_EQ(elementCount(array), 3);
    EXPECT_EQ(elementAt(array, 1), "聊天室");
    EXPECT_EQ(elementAt(array, 2), "");
    EXPECT_EQ(elementAt(array, 3), "机器人");
}

} // namespace
