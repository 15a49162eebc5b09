// Unit tests of the per-user value store on every backend: the path rules as the store applies
// them, every operation, the robot's vote layout and grouped operations. Each test gets a fresh store of its own
// (ValueStoreTestSupport.h), so the real one is never touched.
#include "runtime/Text.h"
#include "store/ValueStore.h"
#include "store/ValueStoreTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// One step of a table of store operations on the current user's root: what is done or asked,
// on which path, and the answer it must give.
struct Step {
    enum Kind { Write, Delete, ValueExists, KeyExists, ReadsAs } kind;
    std::string path;
    bool result = true;    // of Write, Delete, ValueExists and KeyExists
    std::string text = {}; // Write: the text written; ReadsAs: the text read back
};

Step write(std::string path, std::string text) { return { Step::Write, std::move(path), true, std::move(text) }; }
Step erase(std::string path, bool result) { return { Step::Delete, std::move(path), result }; }
Step value(std::string path, bool exists) { return { Step::ValueExists, std::move(path), exists }; }
Step key(std::string path, bool exists) { return { Step::KeyExists, std::move(path), exists }; }
Step reads(std::string path, std::string text) { return { Step::ReadsAs, std::move(path), true, std::move(text) }; }

void play(ValueStore& store, const std::vector<Step>& steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i + 1 << ", path " << step.path);
        switch (step.kind) {
        case Step::Write: EXPECT_EQ(store.writeValue(kRootCurrentUser, step.path, std::string_view(step.text)), step.result); break;
        case Step::Delete: EXPECT_EQ(store.deleteItem(kRootCurrentUser, step.path), step.result); break;
        case Step::ValueExists: EXPECT_EQ(store.valueExists(kRootCurrentUser, step.path), step.result); break;
        case Step::KeyExists: EXPECT_EQ(store.keyExists(kRootCurrentUser, step.path), step.result); break;
        case Step::ReadsAs: EXPECT_EQ(store.readText(kRootCurrentUser, step.path), step.text); break;
        }
    }
}

TEST_F(ValueStoreTest, VoterValueCreatesTheKeyAndStoresTextWithItsNul)
{
    std::string voter = voterPath("127.0.0.1:5000");
    ASSERT_FALSE(m_store.keyExists(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, voter));

    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, voter, "1"));
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, "SOFTWARE"));
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, "SOFTWARE\\聊天室"));
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, kRobotKey));
    EXPECT_TRUE(m_store.valueExists(kRootCurrentUser, voter));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, voter), "1");
    expectStored(m_store, { { voter, ValueType::String, "1\0"s } });
}

TEST_F(ValueStoreTest, CountIsRewrittenInPlace)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "1"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "1");
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "2"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "2");
    EXPECT_EQ(m_store.readValue(kRootCurrentUser, kCountPath)->data, "2\0"s);

    // A later write of another type replaces the type too.
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, int32_t { 3 }));
    EXPECT_EQ(m_store.readValue(kRootCurrentUser, kCountPath)->type, ValueType::Integer);
}

TEST_F(ValueStoreTest, TrailingBackslashNamesTheDefaultValue)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kRobotKey + "\\", "default"));
    EXPECT_TRUE(m_store.valueExists(kRootCurrentUser, kRobotKey + "\\"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kRobotKey + "\\"), "default");
    EXPECT_EQ(m_store.readValue(kRootCurrentUser, kRobotKey + "\\")->data, "default\0"s);
    // The default value is not a value of the parent key named after the key.
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, kRobotKey));

    // Without any backslash the whole path is a value of the root key.
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "TopLevel", "top"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "TopLevel"), "top");
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, "TopLevel"));
}

TEST_F(ValueStoreTest, BackslashInValueNameMovesTheSplit)
{
    play(m_store, {
        write(voterPath("host\\name"), "1"),
        key(kRobotKey + "\\host", true),
        reads(kRobotKey + "\\host\\name", "1"),
        value(kRobotKey + "\\name", false),
        value(kRobotKey + "\\host", false),
    });
}

TEST_F(ValueStoreTest, SecondByteBackslashNeverSplitsTheKeyPath)
{
    // Key "SOFTWARE\<95 5C>X" is one part below SOFTWARE, not "SOFTWARE\<95>" and "X".
    const std::string key = "SOFTWARE\\\x95\\X";
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, key + "\\v", "1"));
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, key));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, key + "\\v"), "1");

    ASSERT_TRUE(m_store.deleteItem(kRootCurrentUser, key));
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, key));
    // No half-character key was left behind under SOFTWARE, so it has no subkeys now.
    EXPECT_TRUE(m_store.deleteItem(kRootCurrentUser, "SOFTWARE"));

    // The same character at the end is part of the value name, not an empty default name.
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\\x95\\", "named"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\\x95\\"), "named");
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, "K\\"));
}

TEST_F(ValueStoreTest, OnlyTextValuesReadAsText)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\number", int32_t { 7 }));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\negative", int32_t { -2 }));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\bytes", ByteBlock("a\0b"s)));

    for (std::string path : { "K\\number", "K\\negative", "K\\bytes" }) {
        EXPECT_TRUE(m_store.valueExists(kRootCurrentUser, path)) << path;
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path), "") << path;
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path, "fallback"), "fallback") << path;
    }
    expectStored(m_store, {
        { "K\\number", ValueType::Integer, "\x07\0\0\0"s },
        { "K\\negative", ValueType::Integer, "\xFE\xFF\xFF\xFF"s },
        { "K\\bytes", ValueType::Binary, "a\0b"s },
    });
}

TEST_F(ValueStoreTest, MissingValuesReadAsTheDefault)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\present", "here"));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\empty", ""));
    for (std::string path : { "K\\absent", "Missing\\absent", "K\\", "" }) {
        EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, path)) << path;
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path), "") << path;
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path, "fallback"), "fallback") << path;
    }
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\present", "fallback"), "here");
    // An empty string that exists is read as itself, not as the default.
    EXPECT_TRUE(m_store.valueExists(kRootCurrentUser, "K\\empty"));
    EXPECT_EQ(m_store.readValue(kRootCurrentUser, "K\\empty")->data, "\0"s);
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\empty", "fallback"), "");
}

TEST_F(ValueStoreTest, TextEndsAtItsFirstNul)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\v", std::string_view("ab\0cd", 5)));
    EXPECT_EQ(m_store.readValue(kRootCurrentUser, "K\\v")->data, "ab\0"s);
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\v"), "ab");
}

TEST_F(ValueStoreTest, ExpandableStringsExpandEnvironmentReferences)
{
    ScopedEnv set("CHATROOM_STORE_TEST_VAR", "abc");
    ScopedEnv unset("CHATROOM_STORE_TEST_UNSET", nullptr);
    struct Case {
        std::string stored;
        std::string read;
    };
    const Case cases[] = {
        { "x%CHATROOM_STORE_TEST_VAR%y", "xabcy" },
        { "%CHATROOM_STORE_TEST_VAR%%CHATROOM_STORE_TEST_VAR%", "abcabc" },
        { "%CHATROOM_STORE_TEST_UNSET%", "%CHATROOM_STORE_TEST_UNSET%" },
#if !defined(_WIN32)
        // An unknown name keeps its '%'; its closing '%' then opens the next reference. (On
        // Windows the system's own expansion decides; Wine copies "%UNSET%" whole instead.)
        { "%CHATROOM_STORE_TEST_UNSET%CHATROOM_STORE_TEST_VAR%", "%CHATROOM_STORE_TEST_UNSETabc" },
#endif
        { "100%", "100%" },
        { "%%", "%%" },
        { "%=%", "%=%" },
        { "聊天%CHATROOM_STORE_TEST_VAR%室", "聊天abc室" },
        { "", "" },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_store.writeExpandableText(kRootCurrentUser, "K\\expand", c.stored));
        EXPECT_EQ(m_store.readValue(kRootCurrentUser, "K\\expand")->type, ValueType::ExpandableString);
        EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\expand", "fallback"), c.read) << c.stored;
    }
}

TEST_F(ValueStoreTest, NamesCompareWithoutAsciiCase)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "Software\\Chat\\Count", "1"));
    for (std::string path : { "SOFTWARE\\CHAT\\COUNT", "software\\chat\\count", "sOfTwArE\\cHaT\\cOuNt" })
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path), "1") << path;
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "SOFTWARE\\CHAT\\COUNT", "2"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "Software\\Chat\\Count"), "2");
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, "SOFTWARE\\chat"));

    // Bytes of two-byte characters never fold: <81 41> and <81 61> are different characters,
    // and so are 聊 <C1 C4> and <E1 C4>.
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\\x81" "A", "upper"));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\\x81" "a", "lower"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\\x81" "A"), "upper");
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\\x81" "a"), "lower");
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\聊", "1"));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, "K\\\xE1\xC4"));

    EXPECT_TRUE(m_store.deleteItem(kRootCurrentUser, "software\\chat\\count"));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, "Software\\Chat\\Count"));
}

TEST_F(ValueStoreTest, RootCodesAreSeparateNamespaces)
{
    for (int32_t root : { 1, 2, 3, 4, 5 })
        ASSERT_TRUE(m_store.writeValue(root, "K\\v", std::to_string(root)));
    struct Case {
        int32_t root;
        std::string expected;
    };
    const Case cases[] = {
        { 1, "1" }, { 2, "2" }, { 3, "3" }, { 4, "4" }, { 5, "5" },
        // Any other code is the current user.
        { 0, "3" }, { 6, "3" }, { 99, "3" }, { -1, "3" }, { INT32_MIN, "3" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_store.readText(c.root, "K\\v"), c.expected) << c.root;

    ASSERT_TRUE(m_store.deleteItem(1, "K"));
    EXPECT_FALSE(m_store.keyExists(1, "K"));
    EXPECT_TRUE(m_store.keyExists(3, "K"));
    ASSERT_TRUE(m_store.deleteItem(99, "K"));
    EXPECT_FALSE(m_store.keyExists(3, "K"));
    EXPECT_EQ(m_store.readText(5, "K\\v"), "5");
}

TEST_F(ValueStoreTest, MalformedKeyPathsNameNothing)
{
    for (std::string path : { "\\K\\v", "A\\\\B\\v", "K\\\\v" }) {
        EXPECT_FALSE(m_store.writeValue(kRootCurrentUser, path, "1")) << path;
        EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, path)) << path;
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path, "fallback"), "fallback") << path;
        EXPECT_FALSE(m_store.deleteItem(kRootCurrentUser, path)) << path;
    }
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, "K"));
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, "A"));
}

TEST_F(ValueStoreTest, DeleteRemovesTheValueThenTheKey)
{
    play(m_store, {
        write("A\\B\\v", "1"),
        write("A\\B\\w", "2"),
        erase("A\\B\\v", true),
        value("A\\B\\v", false),
        value("A\\B\\w", true),
        key("A\\B", true),
        // Neither a value nor a key of that name is left.
        erase("A\\B\\v", false),
        erase("A\\B", true),
        key("A\\B", false),
        value("A\\B\\w", false),
        key("A", true),
        erase("A", true),
        key("A", false),
        erase("A", false),
        // The root key itself is never deleted.
        erase("", false),
    });
}

TEST_F(ValueStoreTest, DeleteOfKeyWithSubkeysFailsAndKeepsEverything)
{
    play(m_store, {
        write("A\\own", "1"),
        write("A\\B\\v", "2"),
        erase("A", false),
        key("A", true),
        key("A\\B", true),
        reads("A\\own", "1"),
        reads("A\\B\\v", "2"),
        // A sibling whose name merely starts with the same letters is no subkey.
        write("P\\v", "1"),
        write("PQ\\v", "1"),
        erase("P", true),
        key("PQ", true),
    });
}

TEST_F(ValueStoreTest, DeleteTakesAValueBeforeAKeyOfTheSameName)
{
    play(m_store, {
        write("A\\B", "value"),
        write("A\\B\\v", "in key"),
        erase("A\\B", true),
        value("A\\B", false),
        key("A\\B", true),
        erase("A\\B", true),
        key("A\\B", false),
    });
}

TEST_F(ValueStoreTest, DeletingTheRobotKeyEndsThePoll)
{
    for (std::string address : { "127.0.0.1:5000", "127.0.0.1:5001", "10.0.0.2:40000" })
        ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, voterPath(address), "1"));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "3"));

    // No value 机器人 in SOFTWARE\聊天室, so the key goes with every value in it.
    EXPECT_TRUE(m_store.deleteItem(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, kCountPath));
    for (std::string address : { "127.0.0.1:5000", "127.0.0.1:5001", "10.0.0.2:40000" })
        EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, voterPath(address))) << address;
    EXPECT_TRUE(m_store.keyExists(kRootCurrentUser, "SOFTWARE\\聊天室"));

    // The next poll starts from nothing.
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, voterPath("127.0.0.1:5000"), "1"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "");
}

TEST_F(ValueStoreTest, GroupedOperationsAreKeptTogetherOrNotAtAll)
{
    const std::string voter = voterPath("127.0.0.1:5000");
    EXPECT_FALSE(m_store.inTransaction([&] {
        EXPECT_TRUE(m_store.writeValue(kRootCurrentUser, voter, "1"));
        EXPECT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "1"));
        // Inside, the group sees its own writes.
        EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "1");
        return false;
    }));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, voter));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, kCountPath));
    // The keys that came with the values went with them.
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, "SOFTWARE"));

    EXPECT_TRUE(m_store.inTransaction([&] {
        return m_store.writeValue(kRootCurrentUser, voter, "1") && m_store.writeValue(kRootCurrentUser, kCountPath, "1");
    }));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, voter), "1");
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "1");
}

// A failed group puts back everything it changed: values it overwrote or deleted, with their
// types, and a key it deleted, with its values.
TEST_F(ValueStoreTest, FailedGroupRestoresWhatItOverwroteAndDeleted)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "2"));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\number", int32_t { 7 }));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\Sub\\bytes", ByteBlock("a\0b"s)));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\Sub\\", "default"));

    EXPECT_FALSE(m_store.inTransaction([&] {
        EXPECT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "3"));
        EXPECT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\number", "now text"));
        EXPECT_TRUE(m_store.deleteItem(kRootCurrentUser, kRobotKey));
        EXPECT_TRUE(m_store.deleteItem(kRootCurrentUser, "K\\Sub"));
        EXPECT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\Sub\\bytes", "recreated"));
        return false;
    }));

    expectStored(m_store, {
        { kCountPath, ValueType::String, "2\0"s },
        { "K\\number", ValueType::Integer, "\x07\0\0\0"s },
        { "K\\Sub\\bytes", ValueType::Binary, "a\0b"s },
        { "K\\Sub\\", ValueType::String, "default\0"s },
    });
}

} // namespace
