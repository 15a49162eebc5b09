// The epoll set behind the window thread's watchers keeps the watcher interface's promises:
// level-triggered reports, disabled watchers never called and never spinning the loop,
// watchers destroyed inside callbacks, nested dispatches that serve the other sockets, and
// descriptor numbers that a closed socket hands on to a new one.
#include "platform/posix/EpollWatchers.h"
#include "platform/posix/PosixSocketHandle.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <utility>

namespace {

constexpr int kReadyWaitMs = 2000;

// A connected pair of local sockets: bytes written to `far` make `near` readable.
struct SocketPair {
    SocketPair()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
            near = OwnedSocket(toSocketHandle(fds[0]));
            far = OwnedSocket(toSocketHandle(fds[1]));
        }
    }
    void send(char byte = 'x') const { EXPECT_EQ(write(descriptorOf(far.get()), &byte, 1), 1); }
    void drain() const
    {
        char bytes[64];
        while (read(descriptorOf(near.get()), bytes, sizeof bytes) > 0) { }
    }
    OwnedSocket near;
    OwnedSocket far;
};

// Whether the set's descriptor becomes readable within the time.
bool setIsReady(const EpollWatchers& set, int timeoutMs)
{
    pollfd entry { set.descriptor(), POLLIN, 0 };
    return poll(&entry, 1, timeoutMs) == 1;
}

// What the window loop does: wait for the set's descriptor, then dispatch once.
void runOnce(EpollWatchers& set, int timeoutMs = kReadyWaitMs)
{
    if (setIsReady(set, timeoutMs))
        set.dispatch();
}

class EpollWatchersTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(set.valid()); }

    std::unique_ptr<ReadinessWatcher> countingReader(const SocketPair& pair, int& calls)
    {
        auto watcher = set.watchReadable(pair.near.get(), [&calls] { ++calls; });
        watcher->setEnabled(true);
        return watcher;
    }

    EpollWatchers set;
};

TEST_F(EpollWatchersTest, ReportsASocketAgainWhileItStaysReady)
{
    SocketPair pair;
    int calls = 0;
    auto watcher = countingReader(pair, calls);
    pair.send();
    runOnce(set);
    runOnce(set);
    EXPECT_EQ(calls, 2);
    pair.drain();
    EXPECT_FALSE(setIsReady(set, 0));
}

TEST_F(EpollWatchersTest, ADisabledWatcherIsNeverCalledAndDoesNotKeepTheSetReady)
{
    SocketPair pair;
    int calls = 0;
    auto watcher = countingReader(pair, calls);
    watcher->setEnabled(false);
    pair.send();
    runOnce(set); // the first report finds it disabled and takes the interest out
    EXPECT_FALSE(setIsReady(set, 0));
    EXPECT_EQ(calls, 0);
    watcher->setEnabled(true);
    runOnce(set);
    EXPECT_EQ(calls, 1);
}

TEST_F(EpollWatchersTest, AWatcherMayBeDestroyedInsideItsOwnCallback)
{
    SocketPair pair;
    int calls = 0;
    std::unique_ptr<ReadinessWatcher> watcher;
    watcher = set.watchReadable(pair.near.get(), [&] {
        ++calls;
        watcher.reset();
    });
    watcher->setEnabled(true);
    pair.send();
    runOnce(set);
    runOnce(set, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(watcher);
}

// Both sockets are ready in one dispatch; whichever callback runs first destroys (or
// disables) the other watcher, which is then not called although its event was collected.
TEST_F(EpollWatchersTest, AWatcherStoppedByAnEarlierCallbackOfTheSameDispatchIsNotCalled)
{
    for (bool destroy : { true, false }) {
        SocketPair first, second;
        int calls = 0;
        std::unique_ptr<ReadinessWatcher> watchers[2];
        for (int i = 0; i < 2; ++i) {
            const SocketPair& pair = i == 0 ? first : second;
            watchers[i] = set.watchReadable(pair.near.get(), [&, other = 1 - i] {
                ++calls;
                if (destroy)
                    watchers[other].reset();
                else if (watchers[other])
                    watchers[other]->setEnabled(false);
            });
            watchers[i]->setEnabled(true);
        }
        first.send();
        second.send();
        ASSERT_TRUE(setIsReady(set, kReadyWaitMs));
        // Both events in one dispatch.
        pollfd both[2] = { { descriptorOf(first.near.get()), POLLIN, 0 }, { descriptorOf(second.near.get()), POLLIN, 0 } };
        ASSERT_EQ(poll(both, 2, kReadyWaitMs), 2);
        set.dispatch();
        EXPECT_EQ(calls, 1) << (destroy ? "destroyed" : "disabled");
    }
}

// A callback that runs a nested loop: the other socket is served inside, the one whose
// callback is running (disabled for the time, as the server component does) is not, and the
// nested loop does not spin on it; enabled again, it is served.
TEST_F(EpollWatchersTest, ANestedDispatchServesTheOtherSocketsOnly)
{
    SocketPair busy, other;
    int otherCalls = 0, busyCalls = 0, nestedRounds = 0;
    auto otherWatcher = set.watchReadable(other.near.get(), [&] {
        ++otherCalls;
        other.drain();
    });
    otherWatcher->setEnabled(true);
    std::unique_ptr<ReadinessWatcher> busyWatcher;
    busyWatcher = set.watchReadable(busy.near.get(), [&] {
        if (++busyCalls > 1)
            return;
        busyWatcher->setEnabled(false);
        busy.send('y');
        other.send();
        while (otherCalls == 0 && nestedRounds < 10) {
            runOnce(set);
            ++nestedRounds;
        }
        runOnce(set, 0);
        EXPECT_FALSE(setIsReady(set, 0)) << "the nested loop would spin on the disabled socket";
        busyWatcher->setEnabled(true);
    });
    busyWatcher->setEnabled(true);
    busy.send();
    runOnce(set);
    EXPECT_EQ(otherCalls, 1);
    EXPECT_EQ(busyCalls, 1);
    runOnce(set);
    EXPECT_EQ(busyCalls, 2);
}

// A socket closed while its watcher is only disabled (the server component destroys its
// watchers a little later) hands its number on: a watcher of the new socket is served, and
// destroying the old watcher afterwards does not stop it.
TEST_F(EpollWatchersTest, ANewSocketOnTheNumberOfAClosedOneIsServed)
{
    auto old = std::make_unique<SocketPair>();
    int oldCalls = 0, newCalls = 0;
    auto oldWatcher = countingReader(*old, oldCalls);
    old->send();
    runOnce(set);
    oldWatcher->setEnabled(false);
    int number = descriptorOf(old->near.get());
    old->near.reset();
    SocketPair fresh;
    ASSERT_EQ(descriptorOf(fresh.near.get()), number) << "the system did not reuse the number";
    auto newWatcher = countingReader(fresh, newCalls);
    oldWatcher.reset();
    fresh.send();
    runOnce(set);
    EXPECT_EQ(newCalls, 1);
    EXPECT_EQ(oldCalls, 1);
}

TEST_F(EpollWatchersTest, ReaderAndWriterOfOneSocketAreCalledForTheirOwnReadiness)
{
    SocketPair pair;
    int reads = 0, writes = 0;
    auto reader = countingReader(pair, reads);
    auto writer = set.watchWritable(pair.near.get(), [&] { ++writes; });
    writer->setEnabled(true);
    runOnce(set);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(reads, 0);
    writer->setEnabled(false);
    runOnce(set, 0);
    pair.send();
    runOnce(set);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(writes, 1);
}

} // namespace
