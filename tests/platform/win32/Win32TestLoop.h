// The Win32 readiness watchers with the thread's message loop, as the server component's
// suites drive a loop (the same calls as tests/net/PollWatchers.h): they run the component on
// the watchers the Windows program uses, window messages, turns and all. Each watcher is
// wrapped to count the callbacks and the two faults the suites check: a watcher destroyed
// while its own callback runs, and an enabled watcher whose socket has been closed.
#pragma once

#include "net/ReadinessWatcher.h"
#include "platform/win32/Win32ReadinessWatchers.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class Win32TestLoop final : public ReadinessWatcherFactory {
public:
    // The Win32 watchers always have rounds; the flag of the poll loop has no meaning here.
    explicit Win32TestLoop(bool = true) { }

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override
    {
        auto entry = makeEntry(socket, std::move(onReady));
        return std::make_unique<Watcher>(*this, entry, m_watchers.watchReadable(socket, [this, entry] { call(*entry); }));
    }
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override
    {
        auto entry = makeEntry(socket, std::move(onReady));
        return std::make_unique<Watcher>(*this, entry, m_watchers.watchWritable(socket, [this, entry] { call(*entry); }));
    }
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override
    {
        return m_watchers.afterEachRound(std::move(onRoundEnd));
    }

    // Waits at most timeoutMs for a message, then dispatches those waiting; returns the number
    // of callbacks made.
    int runOnce(int timeoutMs = 20)
    {
        std::erase_if(m_entries, [](const auto& entry) { return !entry->alive; });
        for (const auto& entry : m_entries) {
            WSAPOLLFD probe { static_cast<SOCKET>(static_cast<std::uintptr_t>(entry->socket)), POLLRDNORM, 0 };
            if (entry->enabled && WSAPoll(&probe, 1, 0) > 0 && (probe.revents & POLLNVAL))
                ++m_invalidDescriptors;
        }
        long before = m_callbacks;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeoutMs), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return static_cast<int>(m_callbacks - before);
    }

    bool runUntil(const std::function<bool()>& done, int limitMs = 20000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            runOnce();
        return done();
    }

    int runRounds(int rounds, int timeoutMs = 20)
    {
        int calls = 0;
        for (int i = 0; i < rounds; ++i)
            calls += runOnce(timeoutMs);
        return calls;
    }

    long callbacks() const { return m_callbacks; }
    int destroyedWhileRunning() const { return m_destroyedWhileRunning; }
    int invalidDescriptors() const { return m_invalidDescriptors; }
    size_t liveWatchers() const
    {
        size_t live = 0;
        for (const auto& entry : m_entries)
            live += entry->alive ? 1 : 0;
        return live;
    }

private:
    struct Entry {
        SocketHandle socket;
        bool enabled = false;
        bool alive = true;
        int running = 0;
        std::function<void()> onReady;
    };

    class Watcher final : public ReadinessWatcher {
    public:
        Watcher(Win32TestLoop& loop, std::shared_ptr<Entry> entry, std::unique_ptr<ReadinessWatcher> real)
            : m_loop(loop)
            , m_entry(std::move(entry))
            , m_real(std::move(real))
        {
        }
        ~Watcher() override
        {
            if (m_entry->running > 0)
                ++m_loop.m_destroyedWhileRunning;
            m_entry->alive = false;
        }
        void setEnabled(bool enabled) override
        {
            m_entry->enabled = enabled;
            m_real->setEnabled(enabled);
        }

    private:
        Win32TestLoop& m_loop;
        std::shared_ptr<Entry> m_entry;
        std::unique_ptr<ReadinessWatcher> m_real;
    };

    std::shared_ptr<Entry> makeEntry(SocketHandle socket, std::function<void()> onReady)
    {
        auto entry = std::make_shared<Entry>(Entry { socket, false, true, 0, std::move(onReady) });
        m_entries.push_back(entry);
        return entry;
    }

    void call(Entry& entry)
    {
        if (!entry.alive)
            return;
        ++m_callbacks;
        ++entry.running;
        entry.onReady();
        --entry.running;
    }

    Win32ReadinessWatcherFactory m_watchers;
    std::vector<std::shared_ptr<Entry>> m_entries;
    long m_callbacks = 0;
    int m_destroyedWhileRunning = 0;
    int m_invalidDescriptors = 0;
};
