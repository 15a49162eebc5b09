// The Win32 watchers' alarms keep wakeAt's promises: once, not before their time, in a quiet
// room, in a room whose sockets are always ready (where WM_TIMER alone would never come),
// inside a message box's modal loop, never once cancelled, and destroyable from inside their
// own work.
#include "net/SocketOperations.h"
#include "platform/win32/Win32TestLoop.h"
#include "support/LocalPorts.h"
#include "support/LoopbackClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kAlarmDelay { 60 };
// A stall guard far above the delay: an alarm that has not come by then never will.
constexpr int kStallLimitMs = 10000;
constexpr int kRoundsAfterwards = 5;

struct AlarmRuns {
    int count = 0;
    Clock::time_point at;
};

std::unique_ptr<Alarm> countingAlarm(Win32TestLoop& loop, Clock::time_point due, AlarmRuns& run)
{
    return loop.wakeAt(due, [&run] {
        ++run.count;
        run.at = Clock::now();
    });
}

TEST(Win32Alarms, RunOnceNotBeforeTheirTimeInAQuietRoom)
{
    Win32TestLoop loop;
    Clock::time_point due = Clock::now() + kAlarmDelay;
    AlarmRuns run;
    auto alarm = countingAlarm(loop, due, run);
    ASSERT_TRUE(alarm);
    ASSERT_TRUE(loop.runUntil([&] { return run.count > 0; }, kStallLimitMs));
    EXPECT_GE(run.at, due);
    loop.runRounds(kRoundsAfterwards);
    EXPECT_EQ(run.count, 1);
}

TEST(Win32Alarms, ACancelledAlarmNeverRunsAndOneMayEndItselfInItsWork)
{
    Win32TestLoop loop;
    Clock::time_point due = Clock::now() + kAlarmDelay;
    AlarmRuns cancelled;
    auto doomed = countingAlarm(loop, due, cancelled);
    doomed.reset();
    int selfEnded = 0;
    std::unique_ptr<Alarm> self;
    self = loop.wakeAt(due, [&] {
        ++selfEnded;
        self.reset();
    });
    AlarmRuns later;
    auto last = countingAlarm(loop, due + kAlarmDelay, later);
    ASSERT_TRUE(loop.runUntil([&] { return later.count > 0; }, kStallLimitMs));
    EXPECT_EQ(cancelled.count, 0);
    EXPECT_EQ(selfEnded, 1);
    EXPECT_FALSE(self);
}

// A writer that re-enables itself in every callback keeps a turn request posted at all times,
// as a flooded room does; timers are made only when no posted message waits. The writer gives
// up after the stall limit, so that an alarm that only a timer would run comes then, too late.
TEST(Win32Alarms, RunWhileASocketIsAlwaysReady)
{
    Win32TestLoop loop;
    std::string reason;
    int port = test_support::freeTcpPort();
    OwnedSocket listener = sockets::openListener(static_cast<uint16_t>(port), reason);
    ASSERT_TRUE(listener) << reason;
    test_support::LoopbackClient client(static_cast<uint16_t>(port));
    sockets::Accepted accepted;
    ASSERT_TRUE(loop.runUntil([&] {
        if (accepted.outcome != sockets::AcceptOutcome::Accepted)
            accepted = sockets::acceptConnection(listener.get());
        return accepted.outcome == sockets::AcceptOutcome::Accepted;
    }, kStallLimitMs));
    AlarmRuns run;
    Clock::time_point busyUntil = Clock::now() + milliseconds(kStallLimitMs);
    long turnsBefore = 0;
    std::unique_ptr<ReadinessWatcher> writer;
    long turns = 0;
    writer = loop.watchWritable(accepted.socket.get(), [&] {
        ++turns;
        writer->setEnabled(false);
        if (run.count == 0 && Clock::now() < busyUntil)
            writer->setEnabled(true);
    });
    writer->setEnabled(true);
    auto alarm = loop.wakeAt(Clock::now() + kAlarmDelay, [&] {
        ++run.count;
        run.at = Clock::now();
        turnsBefore = turns;
    });
    ASSERT_TRUE(loop.runUntil([&] { return run.count > 0; }, 2 * kStallLimitMs));
    EXPECT_LT(run.at, busyUntil);
    EXPECT_GT(turnsBefore, 1);
}

// The message box is opened by one alarm and closed by another, which must therefore run in
// the box's own loop. Should it not, a guard closes the box, and the check fails.
TEST(Win32Alarms, RunInsideAMessageBoxLoop)
{
    Win32TestLoop loop;
    DWORD thread = GetCurrentThreadId();
    auto closeBoxes = [thread] {
        EnumThreadWindows(thread, [](HWND candidate, LPARAM) -> BOOL {
            wchar_t name[16] = {};
            if (GetClassNameW(candidate, name, static_cast<int>(std::size(name))) > 0 && lstrcmpW(name, L"#32770") == 0)
                PostMessageW(candidate, WM_CLOSE, 0, 0);
            return TRUE;
        }, 0);
    };
    bool boxDone = false;
    AlarmRuns closer;
    std::unique_ptr<Alarm> closing;
    auto opening = loop.wakeAt(Clock::now() + kAlarmDelay, [&] {
        closing = loop.wakeAt(Clock::now() + kAlarmDelay, [&] {
            ++closer.count;
            closeBoxes();
        });
        MessageBoxW(nullptr, L"alarm test", L"alarm test", MB_OK | MB_TASKMODAL);
        boxDone = true;
    });
    std::atomic<bool> finished = false;
    std::thread guard([&] {
        auto limit = Clock::now() + milliseconds(kStallLimitMs);
        while (!finished && Clock::now() < limit)
            std::this_thread::sleep_for(kAlarmDelay);
        while (!finished) {
            closeBoxes();
            std::this_thread::sleep_for(kAlarmDelay);
        }
    });
    bool ended = loop.runUntil([&] { return boxDone; }, 2 * kStallLimitMs);
    finished = true;
    guard.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(closer.count, 1);
}

} // namespace
