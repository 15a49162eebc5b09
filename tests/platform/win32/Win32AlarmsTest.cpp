// The Win32 watchers' alarms keep wakeAt's promises: once, not before their time, in a quiet
// room and in one whose sockets are always ready (where WM_TIMER alone never comes), inside a
// message box's loop, never once cancelled, and destroyable from inside their own work.
#include "net/SocketOperations.h"
#include "platform/win32/Win32TestLoop.h"
#include "support/LocalPorts.h"
#include "support/LoopbackClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kDelay { 60 };
// A stall guard far above the delay: an alarm that has not come by then never will.
constexpr int kStallLimitMs = 10000;

TEST(Win32Alarms, RunOnceNotBeforeTheirTimeUnlessCancelled)
{
    Win32TestLoop loop;
    Clock::time_point due = Clock::now() + kDelay;
    std::vector<Clock::time_point> runs;
    int cancelledRuns = 0;
    auto cancelled = loop.wakeAt(due, [&] { ++cancelledRuns; });
    cancelled.reset();
    std::unique_ptr<Alarm> self;
    self = loop.wakeAt(due, [&] {
        runs.push_back(Clock::now());
        self.reset();
    });
    ASSERT_TRUE(loop.runUntil([&] { return !runs.empty(); }, kStallLimitMs));
    loop.runRounds(5);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_GE(runs[0], due);
    EXPECT_EQ(cancelledRuns, 0);
}

// A writer that re-enables itself in every callback keeps a turn request posted at all times,
// as a flooded room does. It gives up after the stall limit, when a timer would come at last.
TEST(Win32Alarms, RunWhileASocketIsAlwaysReady)
{
    Win32TestLoop loop;
    std::string reason;
    auto port = static_cast<uint16_t>(test_support::freeTcpPort());
    OwnedSocket listener = sockets::openListener(port, reason);
    ASSERT_TRUE(listener) << reason;
    test_support::LoopbackClient client(port);
    sockets::Accepted accepted;
    ASSERT_TRUE(loop.runUntil([&] {
        if (accepted.outcome != sockets::AcceptOutcome::Accepted)
            accepted = sockets::acceptConnection(listener.get());
        return accepted.outcome == sockets::AcceptOutcome::Accepted;
    }, kStallLimitMs));
    Clock::time_point busyUntil = Clock::now() + std::chrono::milliseconds(kStallLimitMs);
    bool ran = false;
    long turns = 0, turnsBefore = 0;
    std::unique_ptr<ReadinessWatcher> writer = loop.watchWritable(accepted.socket.get(), [&] {
        ++turns;
        writer->setEnabled(false);
        writer->setEnabled(!ran && Clock::now() < busyUntil);
    });
    writer->setEnabled(true);
    auto alarm = loop.wakeAt(Clock::now() + kDelay, [&] {
        ran = true;
        turnsBefore = turns;
        EXPECT_LT(Clock::now(), busyUntil);
    });
    ASSERT_TRUE(loop.runUntil([&] { return ran; }, 2 * kStallLimitMs));
    EXPECT_GT(turnsBefore, 1);
}

// One alarm opens a box, another must close it from inside the box's loop; should it not, a
// guard closes the box and the check fails.
TEST(Win32Alarms, RunInsideAMessageBoxLoop)
{
    Win32TestLoop loop;
    auto closeBoxes = [thread = GetCurrentThreadId()] {
        EnumThreadWindows(thread, [](HWND candidate, LPARAM) -> BOOL {
            wchar_t name[16] = {};
            if (GetClassNameW(candidate, name, static_cast<int>(std::size(name))) > 0 && lstrcmpW(name, L"#32770") == 0)
                PostMessageW(candidate, WM_CLOSE, 0, 0);
            return TRUE;
        }, 0);
    };
    bool boxDone = false, closedByAlarm = false;
    std::unique_ptr<Alarm> closing;
    auto opening = loop.wakeAt(Clock::now() + kDelay, [&] {
        closing = loop.wakeAt(Clock::now() + kDelay, [&] {
            closedByAlarm = true;
            closeBoxes();
        });
        MessageBoxW(nullptr, L"alarm test", L"alarm test", MB_OK | MB_TASKMODAL);
        boxDone = true;
    });
    std::atomic<bool> finished = false;
    std::jthread guard([&] {
        for (auto limit = Clock::now() + std::chrono::milliseconds(kStallLimitMs); !finished; std::this_thread::sleep_for(kDelay)) {
            if (Clock::now() >= limit)
                closeBoxes();
        }
    });
    bool ended = loop.runUntil([&] { return boxDone; }, 2 * kStallLimitMs);
    finished = true;
    ASSERT_TRUE(ended);
    EXPECT_TRUE(closedByAlarm);
}

} // namespace
