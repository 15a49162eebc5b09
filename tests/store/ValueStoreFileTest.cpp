// Unit tests of the value store's SQLite file: where it lives, how it keeps names and data,
// what happens when the file is removed or cannot be made, and the store shared by several
// processes, one of them killed mid-run. Each test gets its own XDG_CONFIG_HOME.
#include "store/ValueStore.h"
#include "store/ValueStoreTestSupport.h"

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
        EXPECT_EQ(PosixValueStore::path(), c.expected) << (c.configHome ? c.configHome : "(unset)");
    }
}

TEST_F(ValueStoreTest, FirstWriteCreatesThePrivateStoreDirectory)
{
    std::string nested = m_place.path() + "/a/b";
    ScopedEnv configHome("XDG_CONFIG_HOME", nested.c_str());
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\v", "x"));

    for (std::string directory : { nested, nested + "/chatroom-server" }) {
        struct stat info;
        ASSERT_EQ(stat(directory.c_str(), &info), 0) << directory;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << directory;
    }
    struct stat info;
    EXPECT_EQ(stat((nested + "/chatroom-server/registry.sqlite3").c_str(), &info), 0);
}

TEST_F(ValueStoreTest, NamesAndDataAreStoredAsCp936Blobs)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, voterPath("127.0.0.1:5000"), "1"));
    // On disk the names are the code page 936 bytes, kept as blobs.
    m_store.close();
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "SELECT path FROM registry_keys ORDER BY length(path) DESC"), kRobotKey);
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "SELECT typeof(name) || typeof(data) || length(data) FROM registry_values"), "blobblob2");
}

TEST_F(ValueStoreTest, StoreFileRemovedWhileOpenIsCreatedAgain)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\old", "1"));
    auto removeStore = [&] {
        for (const char* suffix : { "", "-wal", "-shm" })
            unlink((m_place.storeFile() + suffix).c_str());
    };

    removeStore();
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\new", "2"));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, "K\\old"));

    // Removed again, and this time another server creates the new file first: this process
    // must follow it to the new file rather than keep using the removed one.
    removeStore();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(m_store.writeValue(kRootCurrentUser, "K\\other", "3") ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\other"), "3");
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, "K\\mine", "4"));
    m_store.close();
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "SELECT count(*) FROM registry_values"), "2");
}

TEST_F(ValueStoreTest, StoreThatCannotBeOpenedFailsQuietly)
{
    // The configuration directory lies below a regular file.
    std::string blocker = m_place.path() + "/file";
    ASSERT_EQ(close(creat(blocker.c_str(), 0600)), 0);
    ScopedEnv configHome("XDG_CONFIG_HOME", blocker.c_str());

    EXPECT_FALSE(m_store.writeValue(kRootCurrentUser, "K\\v", "1"));
    EXPECT_FALSE(m_store.valueExists(kRootCurrentUser, "K\\v"));
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\v", "fallback"), "fallback");
    EXPECT_EQ(m_store.readText(kRootCurrentUser, "K\\v"), "");
    EXPECT_FALSE(m_store.deleteItem(kRootCurrentUser, "K"));
    EXPECT_FALSE(m_store.keyExists(kRootCurrentUser, ""));
}

// Writes `count` distinct voter values for process number `process`; the number of failures.
int writeVoters(ValueStore& store, int process, int count)
{
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::string address = "127.0.0." + std::to_string(process) + ":" + std::to_string(5000 + i);
        if (!store.writeValue(kRootCurrentUser, voterPath(address), "1"))
            ++failures;
    }
    return failures;
}

// Forks `children` writers; the parent writes as process 0 meanwhile when `parentWrites`.
// Every writer waits at a start gate (a pipe the parent closes), so that they overlap.
void runConcurrentVoters(ValueStore& store, int children, bool parentWrites, int perProcess)
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
            _exit(writeVoters(store, process, perProcess) == 0 ? 0 : 1);
        }
        if (pid > 0)
            pids.push_back(pid);
        EXPECT_GT(pid, 0) << "fork failed";
    }
    close(gate[0]);
    close(gate[1]);
    if (parentWrites) {
        EXPECT_EQ(writeVoters(store, 0, perProcess), 0);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << pid << " status " << status;
    }
}

void expectVoters(ValueStore& store, int firstProcess, int lastProcess, int perProcess)
{
    for (int process = firstProcess; process <= lastProcess; ++process) {
        for (int i = 0; i < perProcess; ++i) {
            std::string address = "127.0.0." + std::to_string(process) + ":" + std::to_string(5000 + i);
            EXPECT_EQ(store.readText(kRootCurrentUser, voterPath(address)), "1") << address;
        }
    }
}

TEST_F(ValueStoreTest, TwoProcessesWritingAtOnceKeepEveryValue)
{
    // Neither process has the store open yet: they also race to create it.
    runConcurrentVoters(m_store, 2, false, 50);
    expectVoters(m_store, 1, 2, 50);
    m_store.close();
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "SELECT count(*) FROM registry_values"), "100");
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "PRAGMA integrity_check"), "ok");
}

// The parent has the store open when it forks; each child must work through a connection of
// its own (an inherited one belongs to the parent's file locks).
TEST_F(ValueStoreTest, ParentWithOpenStoreAndForkedChildrenWriteAtOnce)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "1"));
    runConcurrentVoters(m_store, 2, true, 30);
    expectVoters(m_store, 0, 2, 30);
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "1");
    m_store.close();
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "SELECT count(*) FROM registry_values"), "91");
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "PRAGMA integrity_check"), "ok");
}

TEST_F(ValueStoreTest, ProcessKilledBetweenOperationsLosesNothingCommitted)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failures = writeVoters(m_store, 1, 20);
        failures += !m_store.writeValue(kRootCurrentUser, kCountPath, "2");
        if (failures == 0)
            kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    expectVoters(m_store, 1, 1, 20);
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), "2");
    m_store.close();
    EXPECT_EQ(queryStoreFile(m_place.storeFile(), "PRAGMA integrity_check"), "ok");
}

// Counting is read, add one, write: as one group, two processes counting at once lose nothing.
TEST_F(ValueStoreTest, CountsOfTwoProcessesInGroupsAddUp)
{
    constexpr int kPerProcess = 40;
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "0"));
    m_store.close();
    pid_t children[2];
    for (pid_t& child : children) {
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(countInGroups(m_store, kCountPath, kPerProcess) == kPerProcess ? 0 : 1);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), std::to_string(2 * kPerProcess));
}

} // namespace
