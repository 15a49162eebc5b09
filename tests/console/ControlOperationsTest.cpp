// The list and edit box operations as the service relies on them: 0-based entries with -1 for
// "none", out-of-range reads and deletions that change nothing, appends without separator
// (also on the hidden marker store), and marker searches that give exactly what findText
// gives on the store's content.
#include "console/QtConsoleDriver.h"
#include "runtime/Text.h"
#include "support/FindTextCases.h"

#include <QTextEdit>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace console_test;

using ListOperations = LoadedConsole<QtConsoleDriver>;

TEST_F(ListOperations, EmptyListReadsAsNothing)
{
    EXPECT_EQ(itemCount(列表框1), 0);
    EXPECT_EQ(currentSelection(列表框1), -1);
    for (int32_t index : { -1, 0, 1, 1000 })
        EXPECT_EQ(itemText(列表框1, index), "") << index;
    EXPECT_FALSE(deleteItem(列表框1, 0));
    EXPECT_FALSE(deleteItem(列表框1, -1));
    EXPECT_EQ(itemCount(列表框1), 0);
}

TEST_F(ListOperations, AddItemReturnsTheNewIndexAndKeepsTheOrderAdded)
{
    EXPECT_EQ(addItem(列表框1, "127.0.0.1:3000"), 0);
    EXPECT_EQ(addItem(列表框1, "10.0.0.9:12"), 1);
    EXPECT_EQ(addItem(列表框1, "127.0.0.1:2000"), 2);
    EXPECT_EQ(addItem(列表框1, "1.2.3.4:80"), 3);
    EXPECT_EQ(itemCount(列表框1), 4);
    // Not sorted: the list keeps the order in which entries came, and shows them so.
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { "127.0.0.1:3000", "10.0.0.9:12", "127.0.0.1:2000", "1.2.3.4:80" }));
    EXPECT_EQ(QtConsoleDriver::shownEntries(), (std::vector<std::string> { "127.0.0.1:3000", "10.0.0.9:12", "127.0.0.1:2000", "1.2.3.4:80" }));
}

TEST_F(ListOperations, EntryTextsKeepTheirBytes)
{
    const std::string twoByte = "管理员\xA1\xA1x";
    addItem(列表框1, twoByte);
    addItem(列表框1, "");
    EXPECT_EQ(itemText(列表框1, 0), twoByte);
    EXPECT_EQ(itemText(列表框1, 1), "");
    EXPECT_EQ(QtConsoleDriver::shownEntries().front(), reinterpret_cast<const char*>(u8"管理员\u3000x"));
}

TEST_F(ListOperations, OutOfRangeIndexesChangeNothing)
{
    for (const char* text : { "a:1", "b:2", "c:3" })
        addItem(列表框1, text);
    const std::vector<std::string> before = rosterTexts();
    EXPECT_EQ(itemText(列表框1, -1), "");
    EXPECT_EQ(itemText(列表框1, itemCount(列表框1)), "");
    EXPECT_EQ(itemText(列表框1, 2), "c:3");
    EXPECT_FALSE(deleteItem(列表框1, itemCount(列表框1)));
    EXPECT_FALSE(deleteItem(列表框1, -1));
    EXPECT_EQ(rosterTexts(), before);
    EXPECT_EQ(rosterWidget()->model()->rowCount(), 3);
}

TEST_F(ListOperations, DeleteItemMovesTheFollowingEntriesUp)
{
    for (const char* text : { "a:1", "b:2", "c:3", "d:4" })
        addItem(列表框1, text);
    EXPECT_TRUE(deleteItem(列表框1, 1));
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { "a:1", "c:3", "d:4" }));
    EXPECT_EQ(QtConsoleDriver::shownEntries(), (std::vector<std::string> { "a:1", "c:3", "d:4" }));
    EXPECT_TRUE(deleteItem(列表框1, 2));
    EXPECT_TRUE(deleteItem(列表框1, 0));
    EXPECT_EQ(rosterTexts(), (std::vector<std::string> { "c:3" }));
    EXPECT_TRUE(deleteItem(列表框1, 0));
    EXPECT_EQ(itemCount(列表框1), 0);
    EXPECT_EQ(addItem(列表框1, "e:5"), 0);
}

TEST_F(ListOperations, SelectionStaysWithItsEntry)
{
    for (const char* text : { "a:1", "b:2", "c:3" })
        addItem(列表框1, text);
    EXPECT_EQ(currentSelection(列表框1), -1);
    rosterWidget()->setCurrentRow(2);
    EXPECT_EQ(currentSelection(列表框1), 2);
    // Deleting an entry above moves the selected entry, and its selection, one place up.
    EXPECT_TRUE(deleteItem(列表框1, 0));
    EXPECT_EQ(currentSelection(列表框1), 1);
    EXPECT_EQ(itemText(列表框1, currentSelection(列表框1)), "c:3");
    // Deleting the selected entry leaves nothing selected, so an administrator action cannot
    // fall on a neighbour the administrator never chose.
    EXPECT_TRUE(deleteItem(列表框1, 1));
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(itemText(列表框1, currentSelection(列表框1)), "");
}

using EditBoxOperations = LoadedConsole<QtConsoleDriver>;

TEST_F(EditBoxOperations, AppendAddsAtTheEndWithoutSeparator)
{
    // The hidden marker store and the shown banner box behave alike.
    for (UnitReference box : { 编辑框1, 编辑框2 }) {
        SCOPED_TRACE(box.unitId);
        setContent(box, "");
        appendText(box, "1.2.3.4:80=1\r\n");
        EXPECT_EQ(content(box), "1.2.3.4:80=1\r\n");
        appendText(box, "管理员");
        appendText(box, "x");
        appendText(box, "");
        EXPECT_EQ(content(box), "1.2.3.4:80=1\r\n管理员x");
    }
    QList<QTextEdit*> shown = m_window->findChildren<QTextEdit*>();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown.front()->toPlainText(), utf8(u8"1.2.3.4:80=1\n管理员x"));
}

TEST_F(EditBoxOperations, SetContentReplacesTheBannerCompletely)
{
    setContent(编辑框2, "本机名称：first-host\r\n本机IP：10.1.1.1");
    setContent(编辑框2, "本机名称：h\r\n本机IP：1");
    EXPECT_EQ(content(编辑框2), "本机名称：h\r\n本机IP：1");
    QList<QTextEdit*> shown = m_window->findChildren<QTextEdit*>();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown.front()->toPlainText(), utf8(u8"本机名称：h\n本机IP：1"));
    setContent(编辑框2, "");
    EXPECT_EQ(content(编辑框2), "");
    EXPECT_EQ(shown.front()->toPlainText(), QString());
}

using MarkerSearch = LoadedConsole<QtConsoleDriver>;

TEST_F(MarkerSearch, EqualsFindTextOnTheStoredContent)
{
    for (const test_support::FindCase& row : test_support::kFindCases) {
        // The edit box is given texts, which end at their first NUL.
        if (row.text.find('\0') != std::string_view::npos)
            continue;
        SCOPED_TRACE(testing::Message() << "store '" << row.text << "' sought '" << row.sought << "'");
        ASSERT_EQ(findText(row.text, row.sought), row.expected) << "the table disagrees with findText";

        setContent(编辑框1, row.text);
        EXPECT_EQ(findInContent(编辑框1, row.sought), row.expected);
        // Asked again (an earlier answer may be remembered) and built by appends.
        EXPECT_EQ(findInContent(编辑框1, row.sought), row.expected);
        setContent(编辑框1, "");
        for (char byte : row.text)
            appendText(编辑框1, std::string(1, byte));
        EXPECT_EQ(content(编辑框1), row.text);
        EXPECT_EQ(findInContent(编辑框1, row.sought), row.expected);
    }
}

TEST_F(MarkerSearch, FollowsAppendsAndReplacements)
{
    setContent(编辑框1, "a:1=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "b:2=1"), -1);
    appendText(编辑框1, "b:2=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "b:2=1"), 8);
    // A later copy does not move the first.
    appendText(编辑框1, "b:2=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "b:2=1"), 8);
    // Replacing the content forgets every earlier answer.
    setContent(编辑框1, "b:2=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "b:2=1"), 1);
    EXPECT_EQ(findInContent(编辑框1, "a:1=1"), -1);
    setContent(编辑框1, "");
    EXPECT_EQ(findInContent(编辑框1, "b:2=1"), -1);
    // The store turning two-byte after an ASCII-only start.
    setContent(编辑框1, "x=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "x=1"), 1);
    appendText(编辑框1, "\xC4");
    appendText(编辑框1, "\xE3y=1\r\n");
    EXPECT_EQ(findInContent(编辑框1, "\xE3y"), -1);
    EXPECT_EQ(findInContent(编辑框1, "y=1"), 8);
    EXPECT_EQ(findInContent(编辑框1, "x=1"), 1);
}

// A leave rewrites the store without the leaver's lines: every later line moves, and a line
// whose address ends with the leaver's loses its tail and joins the next.
TEST_F(MarkerSearch, FollowsTheRemovalOfALeaversLines)
{
    // Asked for in the order written, as the relay asks; the second address ends the first.
    const std::vector<std::string> addresses = { "11.2.3.4:80", "1.2.3.4:80", "10.0.0.1:5000", "10.0.0.2:5000", "127.0.0.1:40112" };
    const std::vector<std::string> leavers = { "10.0.0.1:5000", "1.2.3.4:80", "127.0.0.1:40112", "11.2.3.4:80", "9.9.9.9:9" };
    for (const std::string& leaver : leavers) {
        SCOPED_TRACE("leaver " + leaver);
        setContent(编辑框1, "");
        for (const std::string& address : addresses)
            appendText(编辑框1, address + "=1\r\n");
        for (const std::string& address : addresses)
            ASSERT_EQ(findInContent(编辑框1, address + "=1"), findText(content(编辑框1), address + "=1"));
        setContent(编辑框1, replaceText(content(编辑框1), leaver + "=1\r\n", ""));
        appendText(编辑框1, "192.168.1.1:1=1\r\n");
        const std::string stored = content(编辑框1);
        for (const std::string& address : addresses)
            EXPECT_EQ(findInContent(编辑框1, address + "=1"), findText(stored, address + "=1")) << address << " in '" << stored << "'";
        EXPECT_EQ(findInContent(编辑框1, leaver + "=1"), findText(stored, leaver + "=1"));
    }
}

TEST_F(MarkerSearch, RandomStoresAgreeWithFindText)
{
    // Pieces that make addresses, markers, line ends and stray lead and trail bytes, so that
    // matches straddle character boundaries and one address ends another.
    const std::vector<std::string> pieces = {
        "1.2.3.4:80", "11.2.3.4:80", "1", ".", ":", "80", "=1\r\n", "=1", "\r\n", "=",
        "管", "理员", "\xB9", "\xDC", "\xA1", "A", "a", "\xC4\xE3", "\xE3\xBA",
    };
    // Every other stretch of rounds uses only the first pieces, addresses and whole line ends,
    // so that the store is made of marker lines.
    const size_t addressPieces = 7;
    std::mt19937 random(19730);
    bool addressesOnly = false;
    auto piece = [&] { return pieces[random() % (addressesOnly ? addressPieces : pieces.size())]; };
    auto someText = [&](size_t most) {
        std::string text;
        for (size_t count = random() % (most + 1); count > 0; --count)
            text += piece();
        return text;
    };

    std::vector<std::string> sought;
    for (int i = 0; i < 60; ++i)
        sought.push_back(someText(3));
    for (const std::string& each : pieces)
        sought.push_back(each + "=1");

    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        if (round % 50 == 0) {
            addressesOnly = round % 100 == 0;
            setContent(编辑框1, someText(6));
        }
        else
            appendText(编辑框1, someText(2));
        const std::string stored = content(编辑框1);
        // Every text twice: the second answer may come from what the box remembers.
        for (int pass = 0; pass < 2; ++pass) {
            for (const std::string& text : sought) {
                ASSERT_EQ(findInContent(编辑框1, text), findText(stored, text))
                    << "round " << round << " store '" << stored << "' sought '" << text << "'";
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 0);
}

} // namespace
