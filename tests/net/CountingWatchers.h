// What the server component's test loops share (PollWatchers.h on Linux, Win32TestLoop.h on
// Windows): an entry per watcher, the count of callbacks and of the two faults the suites
// check (a watcher destroyed while its own callback runs, an enabled watcher whose socket has
// been closed), and running the loop until something holds or for a number of rounds. A loop
// supplies one wait-and-dispatch and, where it wraps real watchers, the real one of each entry.
// Not a polymorphic class: the sanitizer's check of a call on one reads memory with a pipe,
// which the tests that fill the descriptor table leave it none to make.
#pragma once

#include "net/ReadinessWatcher.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class CountingWatchers {
public:
    explicit CountingWatchers(std::function<void(int timeoutMs)> waitAndDispatch)
        : m_waitAndDispatch(std::move(waitAndDispatch))
    {
    }
    CountingWatchers(const CountingWatchers&) = delete;
    CountingWatchers& operator=(const CountingWatchers&) = delete;

    // The longest one round waits for readiness, and the generous bound of runUntil.
    static constexpr int kRoundWaitMs = 20;
    static constexpr int kRunLimitMs = 20000;

    // Waits at most timeoutMs for readiness, then calls back those ready; returns the number
    // of callbacks made.
    int runOnce(int timeoutMs = kRoundWaitMs)
    {
        std::erase_if(m_entries, [](const auto& entry) { return !entry->alive; });
        long before = m_callbacks;
        m_waitAndDispatch(timeoutMs);
        return static_cast<int>(m_callbacks - before);
    }

    // Runs the loop until `done` holds or the limit has passed; returns `done`.
    bool runUntil(const std::function<bool()>& done, int limitMs = kRunLimitMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            runOnce();
        return done();
    }

    // Runs a fixed number of rounds; returns the number of callbacks made in them.
    int runRounds(int rounds, int timeoutMs = kRoundWaitMs)
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

protected:
    struct Entry {
        SocketHandle socket;
        bool writable = false;
        bool enabled = false;
        bool alive = true;
        int running = 0;
        std::function<void()> onReady;
    };

    std::shared_ptr<Entry> addEntry(SocketHandle socket, bool writable, std::function<void()> onReady)
    {
        auto entry = std::make_shared<Entry>(Entry { socket, writable, false, true, 0, std::move(onReady) });
        m_entries.push_back(entry);
        return entry;
    }

    // The watcher handed out for an entry; `real`, where given, is enabled along with it.
    std::unique_ptr<ReadinessWatcher> watcherFor(std::shared_ptr<Entry> entry, std::unique_ptr<ReadinessWatcher> real = nullptr)
    {
        return std::make_unique<Watcher>(*this, std::move(entry), std::move(real));
    }

    // Calls an entry back and counts it, unless its watcher has gone; true when it ran.
    bool call(Entry& entry)
    {
        if (!entry.alive)
            return false;
        ++m_callbacks;
        ++entry.running;
        entry.onReady();
        --entry.running;
        return true;
    }

    void countInvalidDescriptor() { ++m_invalidDescriptors; }

    std::vector<std::shared_ptr<Entry>> m_entries;

private:
    class Watcher final : public ReadinessWatcher {
    public:
        Watcher(CountingWatchers& loop, std::shared_ptr<Entry> entry, std::unique_ptr<ReadinessWatcher> real)
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
            if (m_real)
                m_real->setEnabled(enabled);
        }

    private:
        CountingWatchers& m_loop;
        std::shared_ptr<Entry> m_entry;
        std::unique_ptr<ReadinessWatcher> m_real;
    };

    std::function<void(int timeoutMs)> m_waitAndDispatch;
    long m_callbacks = 0;
    int m_destroyedWhileRunning = 0;
    int m_invalidDescriptors = 0;
};
