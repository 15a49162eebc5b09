// Unit tests of the per-user value store: the path rules, every operation, the robot's vote
// layout, and the store shared by several processes, one of them killed mid-run. Each test
// gets its own XDG_CONFIG_HOME, so the real store is never touched.
#include "runtime/TempConfigHome.h"
#include "runtime/Text.h"
#include "runtime/ValueStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kRobotKey = "SOFTWARE\\聊天室\\机器人";
const std::string kCountPath = kRobotKey + "\\次数";

std::string voterPath(const std::string& address) { return kRobotKey + "\\" + address; }

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_previous)
            setenv(m_name.c_str(), m_previous->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// The first column of the first row of `sql`, read with SQLite itself rather than the store.
std::string queryStoreFile(const std::string& file, const char* sql)
{
    sqlite3* db = nullptr;
    std::string result = "<cannot open>";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        result = "<no row>";
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
            auto data = static_cast<const char*>(sqlite3_column_blob(statement, 0));
            result = data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(statement, 0))) : std::string();
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

class ValueStoreTest : public testing::Test {
protected:
    TempConfigHome m_home;
};

TEST(ValueStorePath, FollowsXdgConfigHomeElseHome)
{
    struct Case {
        const char* configHome;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        { "/srv/config", "/home/u", "/srv/config/chatroom-server/registry.sqlite3" },
        { nullptr, "/home/u", "/home/u/.config/chatroom-server/registry.sqlite3" },
        { "", "/home/u", "/home/u/.config/chatroom-server/registry.sqlite3" },
        // A relative directory would depend on where the server was started.
        { "relative/config", "/home/u", "/home/u/.config/chatroom-server/registry.sqlite3" },
    };
    for (const Case& c : cases) {
        ScopedEnv configHome("XDG_CONFIG_HOME", c.configHome);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(valueStorePath(), c.expected) << (c.configHome ? c.configHome : "(unset)");
    }
}

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

TEST_F(ValueStoreTest, FirstWriteCreatesThePrivateStoreDirectory)
{
    std::string nested = m_home.path() + "/a/b";
    ScopedEnv configHome("XDG_CONFIG_HOME", nested.c_str());
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\v", "x"));

    for (std::string directory : { nested, nested + "/chatroom-server" }) {
        struct stat info;
        ASSERT_EQ(stat(directory.c_str(), &info), 0) << directory;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << directory;
    }
    struct stat info;
    EXPECT_EQ(stat((nested + "/chatroom-server/registry.sqlite3").c_str(), &info), 0);
}

TEST_F(ValueStoreTest, VoterValueCreatesTheKeyAndStoresTextWithItsNul)
{
    std::string voter = voterPath("127.0.0.1:5000");
    ASSERT_FALSE(registryKeyExists(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, voter));

    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, voter, "1"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "SOFTWARE"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "SOFTWARE\\聊天室"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, kRobotKey));
    EXPECT_TRUE(registryValueExists(kRootCurrentUser, voter));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, voter), "1");

    std::optional<RegistryValue> stored = readRegistryValue(kRootCurrentUser, voter);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, ValueType::String);
    EXPECT_EQ(stored->data, "1\0"s);

    // On disk the names are the code page 936 bytes, kept as blobs.
    closeValueStore();
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "SELECT path FROM registry_keys ORDER BY length(path) DESC"), kRobotKey);
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "SELECT typeof(name) || typeof(data) || length(data) FROM registry_values"), "blobblob2");
}

TEST_F(ValueStoreTest, CountIsRewrittenInPlace)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "1"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "1");
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "2"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "2");
    EXPECT_EQ(readRegistryValue(kRootCurrentUser, kCountPath)->data, "2\0"s);

    // A later write of another type replaces the type too.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, int32_t { 3 }));
    EXPECT_EQ(readRegistryValue(kRootCurrentUser, kCountPath)->type, ValueType::Integer);
}

TEST_F(ValueStoreTest, TrailingBackslashNamesTheDefaultValue)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kRobotKey + "\\", "default"));
    EXPECT_TRUE(registryValueExists(kRootCurrentUser, kRobotKey + "\\"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kRobotKey + "\\"), "default");
    EXPECT_EQ(readRegistryValue(kRootCurrentUser, kRobotKey + "\\")->data, "default\0"s);
    // The default value is not a value of the parent key named after the key.
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, kRobotKey));

    // Without any backslash the whole path is a value of the root key.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "TopLevel", "top"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "TopLevel"), "top");
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "TopLevel"));
}

TEST_F(ValueStoreTest, BackslashInValueNameMovesTheSplit)
{
    std::string path = voterPath("host\\name");
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, path, "1"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, kRobotKey + "\\host"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kRobotKey + "\\host\\name"), "1");
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, kRobotKey + "\\name"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, kRobotKey + "\\host"));
}

TEST_F(ValueStoreTest, SecondByteBackslashNeverSplitsTheKeyPath)
{
    // Key "SOFTWARE\<95 5C>X" is one part below SOFTWARE, not "SOFTWARE\<95>" and "X".
    const std::string key = "SOFTWARE\\\x95\\X";
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, key + "\\v", "1"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, key));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, key + "\\v"), "1");

    ASSERT_TRUE(deleteRegistryItem(kRootCurrentUser, key));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, key));
    // No half-character key was left behind under SOFTWARE, so it has no subkeys now.
    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "SOFTWARE"));

    // The same character at the end is part of the value name, not an empty default name.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\\x95\\", "named"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\\x95\\"), "named");
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "K\\"));
}

TEST_F(ValueStoreTest, OnlyTextValuesReadAsText)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\number", int32_t { 7 }));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\negative", int32_t { -2 }));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\bytes", ByteBlock("a\0b"s)));

    struct Case {
        std::string path;
        ValueType type;
        std::string data;
    };
    const Case cases[] = {
        { "K\\number", ValueType::Integer, "\x07\0\0\0"s },
        { "K\\negative", ValueType::Integer, "\xFE\xFF\xFF\xFF"s },
        { "K\\bytes", ValueType::Binary, "a\0b"s },
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(registryValueExists(kRootCurrentUser, c.path)) << c.path;
        EXPECT_EQ(readRegistryText(kRootCurrentUser, c.path), "") << c.path;
        EXPECT_EQ(readRegistryText(kRootCurrentUser, c.path, "fallback"), "fallback") << c.path;
        std::optional<RegistryValue> stored = readRegistryValue(kRootCurrentUser, c.path);
        ASSERT_TRUE(stored) << c.path;
        EXPECT_EQ(stored->type, c.type) << c.path;
        EXPECT_EQ(stored->data, c.data) << c.path;
    }
}

TEST_F(ValueStoreTest, MissingValuesReadAsTheDefault)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\present", "here"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\empty", ""));
    for (std::string path : { "K\\absent", "Missing\\absent", "K\\", "" }) {
        EXPECT_FALSE(registryValueExists(kRootCurrentUser, path)) << path;
        EXPECT_EQ(readRegistryText(kRootCurrentUser, path), "") << path;
        EXPECT_EQ(readRegistryText(kRootCurrentUser, path, "fallback"), "fallback") << path;
    }
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\present", "fallback"), "here");
    // An empty string that exists is read as itself, not as the default.
    EXPECT_TRUE(registryValueExists(kRootCurrentUser, "K\\empty"));
    EXPECT_EQ(readRegistryValue(kRootCurrentUser, "K\\empty")->data, "\0"s);
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\empty", "fallback"), "");
}

TEST_F(ValueStoreTest, TextEndsAtItsFirstNul)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\v", std::string_view("ab\0cd", 5)));
    EXPECT_EQ(readRegistryValue(kRootCurrentUser, "K\\v")->data, "ab\0"s);
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\v"), "ab");
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
        // An unknown name keeps its '%'; its closing '%' then opens the next reference.
        { "%CHATROOM_STORE_TEST_UNSET%CHATROOM_STORE_TEST_VAR%", "%CHATROOM_STORE_TEST_UNSETabc" },
        { "100%", "100%" },
        { "%%", "%%" },
        { "%=%", "%=%" },
        { "聊天%CHATROOM_STORE_TEST_VAR%室", "聊天abc室" },
        { "", "" },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeRegistryExpandableText(kRootCurrentUser, "K\\expand", c.stored));
        EXPECT_EQ(readRegistryValue(kRootCurrentUser, "K\\expand")->type, ValueType::ExpandableString);
        EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\expand", "fallback"), c.read) << c.stored;
    }
}

TEST_F(ValueStoreTest, NamesCompareWithoutAsciiCase)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "Software\\Chat\\Count", "1"));
    for (std::string path : { "SOFTWARE\\CHAT\\COUNT", "software\\chat\\count", "sOfTwArE\\cHaT\\cOuNt" })
        EXPECT_EQ(readRegistryText(kRootCurrentUser, path), "1") << path;
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "SOFTWARE\\CHAT\\COUNT", "2"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "Software\\Chat\\Count"), "2");
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "SOFTWARE\\chat"));

    // Bytes of two-byte characters never fold: <81 41> and <81 61> are different characters,
    // and so are 聊 <C1 C4> and <E1 C4>.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\\x81" "A", "upper"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\\x81" "a", "lower"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\\x81" "A"), "upper");
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\\x81" "a"), "lower");
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\聊", "1"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "K\\\xE1\xC4"));

    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "software\\chat\\count"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "Software\\Chat\\Count"));
}

TEST_F(ValueStoreTest, RootCodesAreSeparateNamespaces)
{
    for (int32_t root : { 1, 2, 3, 4, 5 })
        ASSERT_TRUE(writeRegistryValue(root, "K\\v", std::to_string(root)));
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
        EXPECT_EQ(readRegistryText(c.root, "K\\v"), c.expected) << c.root;

    ASSERT_TRUE(deleteRegistryItem(1, "K"));
    EXPECT_FALSE(registryKeyExists(1, "K"));
    EXPECT_TRUE(registryKeyExists(3, "K"));
    ASSERT_TRUE(deleteRegistryItem(99, "K"));
    EXPECT_FALSE(registryKeyExists(3, "K"));
    EXPECT_EQ(readRegistryText(5, "K\\v"), "5");
}

TEST_F(ValueStoreTest, MalformedKeyPathsNameNothing)
{
    for (std::string path : { "\\K\\v", "A\\\\B\\v", "K\\\\v" }) {
        EXPECT_FALSE(writeRegistryValue(kRootCurrentUser, path, "1")) << path;
        EXPECT_FALSE(registryValueExists(kRootCurrentUser, path)) << path;
        EXPECT_EQ(readRegistryText(kRootCurrentUser, path, "fallback"), "fallback") << path;
        EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, path)) << path;
    }
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "K"));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "A"));
}

TEST_F(ValueStoreTest, DeleteRemovesTheValueThenTheKey)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\B\\v", "1"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\B\\w", "2"));

    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "A\\B\\v"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "A\\B\\v"));
    EXPECT_TRUE(registryValueExists(kRootCurrentUser, "A\\B\\w"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "A\\B"));
    // Neither a value nor a key of that name is left.
    EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, "A\\B\\v"));

    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "A\\B"));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "A\\B"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "A\\B\\w"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "A"));

    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "A"));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "A"));
    EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, "A"));
    // The root key itself is never deleted.
    EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, ""));
}

TEST_F(ValueStoreTest, DeleteOfKeyWithSubkeysFailsAndKeepsEverything)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\own", "1"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\B\\v", "2"));

    EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, "A"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "A"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "A\\B"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "A\\own"), "1");
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "A\\B\\v"), "2");

    // A sibling whose name merely starts with the same letters is no subkey.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "P\\v", "1"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "PQ\\v", "1"));
    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "P"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "PQ"));
}

TEST_F(ValueStoreTest, DeleteTakesAValueBeforeAKeyOfTheSameName)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\B", "value"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "A\\B\\v", "in key"));

    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "A\\B"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "A\\B"));
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "A\\B"));
    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, "A\\B"));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, "A\\B"));
}

TEST_F(ValueStoreTest, DeletingTheRobotKeyEndsThePoll)
{
    for (std::string address : { "127.0.0.1:5000", "127.0.0.1:5001", "10.0.0.2:40000" })
        ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, voterPath(address), "1"));
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "3"));

    // No value 机器人 in SOFTWARE\聊天室, so the key goes with every value in it.
    EXPECT_TRUE(deleteRegistryItem(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, kRobotKey));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, kCountPath));
    for (std::string address : { "127.0.0.1:5000", "127.0.0.1:5001", "10.0.0.2:40000" })
        EXPECT_FALSE(registryValueExists(kRootCurrentUser, voterPath(address))) << address;
    EXPECT_TRUE(registryKeyExists(kRootCurrentUser, "SOFTWARE\\聊天室"));

    // The next poll starts from nothing.
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, voterPath("127.0.0.1:5000"), "1"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "");
}

TEST_F(ValueStoreTest, StoreFileRemovedWhileOpenIsCreatedAgain)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\old", "1"));
    auto removeStore = [&] {
        for (const char* suffix : { "", "-wal", "-shm" })
            unlink((m_home.storeFile() + suffix).c_str());
    };

    removeStore();
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\new", "2"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "K\\old"));

    // Removed again, and this time another server creates the new file first: this process
    // must follow it to the new file rather than keep using the removed one.
    removeStore();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(writeRegistryValue(kRootCurrentUser, "K\\other", "3") ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\other"), "3");
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, "K\\mine", "4"));
    closeValueStore();
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "SELECT count(*) FROM registry_values"), "2");
}

TEST_F(ValueStoreTest, StoreThatCannotBeOpenedFailsQuietly)
{
    // The configuration directory lies below a regular file.
    std::string blocker = m_home.path() + "/file";
    ASSERT_EQ(close(creat(blocker.c_str(), 0600)), 0);
    ScopedEnv configHome("XDG_CONFIG_HOME", blocker.c_str());

    EXPECT_FALSE(writeRegistryValue(kRootCurrentUser, "K\\v", "1"));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, "K\\v"));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\v", "fallback"), "fallback");
    EXPECT_EQ(readRegistryText(kRootCurrentUser, "K\\v"), "");
    EXPECT_FALSE(deleteRegistryItem(kRootCurrentUser, "K"));
    EXPECT_FALSE(registryKeyExists(kRootCurrentUser, ""));
}

// Writes `count` distinct voter values for process number `process`; the number of failures.
int writeVoters(int process, int count)
{
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::string address = "127.0.0." + std::to_string(process) + ":" + std::to_string(5000 + i);
        if (!writeRegistryValue(kRootCurrentUser, voterPath(address), "1"))
            ++failures;
    }
    return failures;
}

// Forks `children` writers; the parent writes as process 0 meanwhile when `parentWrites`.
// Every writer waits at a start gate (a pipe the parent closes), so that they overlap.
void runConcurrentVoters(int children, bool parentWrites, int perProcess)
{
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> pids;
    for (int process = 1; process <= children; ++process) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) { }
            _exit(writeVoters(process, perProcess) == 0 ? 0 : 1);
        }
        if (pid > 0)
            pids.push_back(pid);
        EXPECT_GT(pid, 0) << "fork failed";
    }
    close(gate[0]);
    close(gate[1]);
    if (parentWrites) {
        EXPECT_EQ(writeVoters(0, perProcess), 0);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << pid << " status " << status;
    }
}

void expectVoters(int firstProcess, int lastProcess, int perProcess)
{
    for (int process = firstProcess; process <= lastProcess; ++process) {
        for (int i = 0; i < perProcess; ++i) {
            std::string address = "127.0.0." + std::to_string(process) + ":" + std::to_string(5000 + i);
            EXPECT_EQ(readRegistryText(kRootCurrentUser, voterPath(address)), "1") << address;
        }
    }
}

TEST_F(ValueStoreTest, TwoProcessesWritingAtOnceKeepEveryValue)
{
    // Neither process has the store open yet: they also race to create it.
    runConcurrentVoters(2, false, 50);
    expectVoters(1, 2, 50);
    closeValueStore();
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "SELECT count(*) FROM registry_values"), "100");
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "PRAGMA integrity_check"), "ok");
}

// The parent has the store open when it forks; each child must work through a connection of
// its own (an inherited one belongs to the parent's file locks).
TEST_F(ValueStoreTest, ParentWithOpenStoreAndForkedChildrenWriteAtOnce)
{
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "1"));
    runConcurrentVoters(2, true, 30);
    expectVoters(0, 2, 30);
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "1");
    closeValueStore();
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "SELECT count(*) FROM registry_values"), "91");
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "PRAGMA integrity_check"), "ok");
}

TEST_F(ValueStoreTest, ProcessKilledBetweenOperationsLosesNothingCommitted)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failures = writeVoters(1, 20);
        failures += !writeRegistryValue(kRootCurrentUser, kCountPath, "2");
        if (failures == 0)
            kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    expectVoters(1, 1, 20);
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "2");
    closeValueStore();
    EXPECT_EQ(queryStoreFile(m_home.storeFile(), "PRAGMA integrity_check"), "ok");
}

TEST_F(ValueStoreTest, GroupedOperationsAreKeptTogetherOrNotAtAll)
{
    const std::string voter = voterPath("127.0.0.1:5000");
    EXPECT_FALSE(inRegistryTransaction([&] {
        EXPECT_TRUE(writeRegistryValue(kRootCurrentUser, voter, "1"));
        EXPECT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "1"));
        // Inside, the group sees its own writes.
        EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "1");
        return false;
    }));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, voter));
    EXPECT_FALSE(registryValueExists(kRootCurrentUser, kCountPath));

    EXPECT_TRUE(inRegistryTransaction([&] {
        return writeRegistryValue(kRootCurrentUser, voter, "1") && writeRegistryValue(kRootCurrentUser, kCountPath, "1");
    }));
    EXPECT_EQ(readRegistryText(kRootCurrentUser, voter), "1");
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), "1");
}

// Counting is read, add one, write: as one group, two processes counting at once lose nothing.
TEST_F(ValueStoreTest, CountsOfTwoProcessesInGroupsAddUp)
{
    constexpr int kPerProcess = 40;
    ASSERT_TRUE(writeRegistryValue(kRootCurrentUser, kCountPath, "0"));
    closeValueStore();
    pid_t children[2];
    for (pid_t& child : children) {
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int counted = 0;
            for (int i = 0; i < kPerProcess; ++i) {
                counted += inRegistryTransaction([] {
                    double count = toNumber(readRegistryText(kRootCurrentUser, kCountPath));
                    return writeRegistryValue(kRootCurrentUser, kCountPath, std::string_view(toText(count + 1)));
                });
            }
            _exit(counted == kPerProcess ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(readRegistryText(kRootCurrentUser, kCountPath), std::to_string(2 * kPerProcess));
}

} // namespace
