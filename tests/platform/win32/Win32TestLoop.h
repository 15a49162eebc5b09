// The Win32 readiness watchers with the thread's message loop, as the server component's
// suites drive a loop (the same calls as tests/net/PollWatchers.h): they run the component on
// the watchers the Windows program uses, window messages, turns and all. Each watcher wraps a
// real one and is counted as tests/net/CountingWatchers.h says.
#pragma once

#include "net/CountingWatchers.h"
#include "platform/win32/Win32ReadinessWatchers.h"

#include <winsock2.h>
#include <windows.h>

class Win32TestLoop final : public ReadinessWatcherFactory, public CountingWatchers {
public:
    // The Win32 watchers always have rounds; the flag of the poll loop has no meaning here.
    explicit Win32TestLoop(bool = true)
        : CountingWatchers([this](int timeoutMs) { waitAndDispatch(timeoutMs); })
    {
    }

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override
    {
        auto entry = addEntry(socket, false, std::move(onReady));
        return watcherFor(entry, m_watchers.watchReadable(socket, [this, entry] { call(*entry); }));
    }
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override
    {
        auto entry = addEntry(socket, true, std::move(onReady));
        return watcherFor(entry, m_watchers.watchWritable(socket, [this, entry] { call(*entry); }));
    }
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override
    {
        return m_watchers.afterEachRound(std::move(onRoundEnd));
    }
    std::unique_ptr<Alarm> wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue) override
    {
        return m_watchers.wakeAt(due, std::move(onDue));
    }

private:
    // Counts the enabled watchers whose socket is no longer valid, waits for a message, then
    // dispatches those waiting.
    void waitAndDispatch(int timeoutMs)
    {
        for (const auto& entry : m_entries) {
            WSAPOLLFD probe { static_cast<SOCKET>(static_cast<std::uintptr_t>(entry->socket)), POLLRDNORM, 0 };
            if (entry->enabled && WSAPoll(&probe, 1, 0) > 0 && (probe.revents & POLLNVAL))
                countInvalidDescriptor();
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeoutMs), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    Win32ReadinessWatcherFactory m_watchers;
};
