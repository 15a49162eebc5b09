// A poll loop standing in for the console's socket notifiers in the network tests. Readiness
// is level-triggered and handed out one callback at a time, and a callback may run the loop
// again, as a message box does in the console. It also counts two faults of its users that
// would hurt the real window loop: a watcher destroyed while its own callback runs, and an
// enabled watcher whose descriptor has been closed. Made with rounds, it runs the round-end
// hooks after each runOnce that called back, as the window loops do; without, it has none,
// as Qt's fallback of one notifier per socket.
#pragma once

#include "net/ReadinessWatcher.h"
#include "net/RoundEndHooks.h"
#include "platform/posix/PosixSocketHandle.h"

#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class PollWatchers final : public ReadinessWatcherFactory {
public:
    explicit PollWatchers(bool withRounds = false)
        : m_withRounds(withRounds)
    {
    }

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override
    {
        return watch(descriptorOf(socket), POLLIN, std::move(onReady));
    }
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override
    {
        return watch(descriptorOf(socket), POLLOUT, std::move(onReady));
    }
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override
    {
        return m_withRounds ? m_roundEndHooks.add(std::move(onRoundEnd)) : nullptr;
    }

    // Waits at most timeoutMs for readiness, then calls every ready watcher once, in the order
    // they were made, skipping those that an earlier callback disabled or destroyed. Returns
    // the number of callbacks made.
    int runOnce(int timeoutMs = 20)
    {
        std::erase_if(m_entries, [](const auto& entry) { return !entry->alive; });
        std::vector<std::shared_ptr<Entry>> watched;
        std::vector<pollfd> fds;
        for (const auto& entry : m_entries) {
            if (!entry->enabled)
                continue;
            watched.push_back(entry);
            fds.push_back(pollfd { entry->fd, entry->events, 0 });
        }
        if (poll(fds.data(), fds.size(), timeoutMs) <= 0)
            return 0;
        int calls = 0;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLNVAL) {
                ++m_invalidDescriptors;
                continue;
            }
            if (!(fds[i].revents & (fds[i].events | POLLERR | POLLHUP)))
                continue;
            Entry& entry = *watched[i];
            if (!entry.alive || !entry.enabled)
                continue;
            ++calls;
            ++m_callbacks;
            ++entry.running;
            entry.onReady();
            --entry.running;
        }
        if (calls > 0)
            m_roundEndHooks.run();
        return calls;
    }

    // Runs the loop until `done` holds or a generous safety limit has passed; returns `done`.
    bool runUntil(const std::function<bool()>& done, int limitMs = 20000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            runOnce();
        return done();
    }

    // Runs a fixed number of rounds; returns the number of callbacks made in them.
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
        int fd = -1;
        short events = 0;
        bool enabled = false;
        bool alive = true;
        int running = 0;
        std::function<void()> onReady;
    };

    class Watcher final : public ReadinessWatcher {
    public:
        Watcher(PollWatchers& loop, std::shared_ptr<Entry> entry)
            : m_loop(loop)
            , m_entry(std::move(entry))
        {
        }
        ~Watcher() override
        {
            if (m_entry->running > 0)
                ++m_loop.m_destroyedWhileRunning;
            m_entry->alive = false;
        }
        void setEnabled(bool enabled) override { m_entry->enabled = enabled; }

    private:
        PollWatchers& m_loop;
        std::shared_ptr<Entry> m_entry;
    };

    std::unique_ptr<ReadinessWatcher> watch(int fd, short events, std::function<void()> onReady)
    {
        auto entry = std::make_shared<Entry>();
        entry->fd = fd;
        entry->events = events;
        entry->onReady = std::move(onReady);
        m_entries.push_back(entry);
        return std::make_unique<Watcher>(*this, std::move(entry));
    }

    bool m_withRounds;
    RoundEndHooks m_roundEndHooks;
    std::vector<std::shared_ptr<Entry>> m_entries;
    long m_callbacks = 0;
    int m_destroyedWhileRunning = 0;
    int m_invalidDescriptors = 0;
};
