// A vote store that stops taking writes while the room runs (its file system filled up): the
// lost votes are never announced as counted, and standard error tells how many failed. The
// store lives on a tiny tmpfs, mounted in a mount namespace of this test process alone.
#include "RoomTest.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// A tmpfs on a fresh directory, with room for the store and its journal and little else.
class PrivateTmpfs {
public:
    PrivateTmpfs()
    {
        bool mounted = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && mount("chatroom-e2e", path().c_str(), "tmpfs", 0, "size=1m,mode=0700") == 0;
        m_error = mounted ? 0 : errno;
    }
    ~PrivateTmpfs()
    {
        if (m_error == 0)
            umount2(path().c_str(), MNT_DETACH);
    }
    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;

    int error() const { return m_error; }
    const std::string& path() const { return m_directory.path(); }

    // Takes every byte that is left, down to the last one.
    void fill()
    {
        int fd = open((path() + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        std::string block(4096, 'f');
        for (size_t size = block.size(); size > 0; size /= 2) {
            while (write(fd, block.data(), size) == static_cast<ssize_t>(size)) { }
        }
        EXPECT_EQ(errno, ENOSPC);
        close(fd);
    }

private:
    TempDirectory m_directory { "chatroom-e2e-store" };
    int m_error = 0;
};

class StoreFailure : public RoomTest {
protected:
    void prepareServer(ServerProcess& server) override { server.setEnvironmentVariable("XDG_CONFIG_HOME", m_store.path()); }

    PrivateTmpfs m_store;
};

TEST_F(StoreFailure, LostVotesAreReportedNotAnnounced)
{
    if (m_store.error() != 0)
        GTEST_SKIP() << "no private tmpfs here: " << std::strerror(m_store.error());
    startServer("zzz\r\nyyy");
    auto [first, second, third] = connectClients<3>();
    syncByProbe(third);
    first.send("@关闭");
    expectAllReceive("@关闭" + robotSays("还需要2个人才能关闭我哦！"));

    m_store.fill();
    // Neither vote is counted: nothing but the relay comes before the probe.
    for (LoopbackClient* voter : { &second, &third }) {
        voter->send("@关闭");
        expectAllReceive("@关闭");
        syncByProbe(first);
    }

    ASSERT_EQ(server().stop(), 0) << server().standardError();
    // The first loss is told at once; the second within a minute is held back and told with
    // the count at the end (or at once, a minute later).
    const std::string line = "chatroom-server: the value store failed, votes were not recorded ";
    EXPECT_EQ(server().standardError(), line + "(1 failure since the start)\n" + line + "(1 failure since the last report)\n");
}

} // namespace
