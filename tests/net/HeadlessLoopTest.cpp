// The headless window thread's loop: it serves ready sockets straight from its own wait on
// the epoll set, runs delayed calls in the order they fall due, and returns when asked to.
#include "platform/headless/HeadlessLoop.h"
#include "platform/posix/PosixSocketHandle.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

TEST(HeadlessLoop, RunsDelayedCallsInTheOrderTheyFallDueAndEndsWhenAsked)
{
    EpollWatchers watchers;
    HeadlessLoop loop(watchers);
    std::string order;
    loop.callLater(30, [&] {
        order += 'c';
        loop.quit();
    });
    loop.callLater(10, [&] { order += 'b'; });
    loop.callLater(0, [&] {
        order += 'a';
        // Asked for at once from a due call: runs after the next look at the sockets.
        loop.callLater(0, [&] { order += 'A'; });
    });
    loop.run();
    EXPECT_EQ(order, "aAbc");
}

TEST(HeadlessLoop, ServesAReadySocketFromItsOwnWait)
{
    EpollWatchers watchers;
    ASSERT_TRUE(watchers.valid());
    HeadlessLoop loop(watchers);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    OwnedSocket near(toSocketHandle(fds[0]));
    OwnedSocket far(toSocketHandle(fds[1]));
    int calls = 0;
    auto reader = watchers.watchReadable(near.get(), [&] {
        ++calls;
        loop.quit();
    });
    reader->setEnabled(true);
    // Written only once the loop waits, so that the wait itself must end for the socket.
    loop.callLater(10, [&] { ASSERT_EQ(write(fds[1], "x", 1), 1); });
    loop.run();
    EXPECT_EQ(calls, 1);
}

} // namespace
