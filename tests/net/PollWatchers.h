// A poll loop standing in for the console's socket notifiers in the network tests. Readiness
// is level-triggered and handed out one callback at a time, and a callback may run the loop
// again, as a message box does in the console. It counts its users' faults as
// CountingWatchers.h says. Made with rounds, it runs the round-end hooks after each runOnce
// that called back, as the window loops do; without, it has none, as Qt's fallback of one
// notifier per socket.
#pragma once

#include "net/CountingWatchers.h"
#include "net/RoundEndHooks.h"
#include "platform/posix/PosixSocketHandle.h"

#include <poll.h>

class PollWatchers final : public ReadinessWatcherFactory, public CountingWatchers {
public:
    explicit PollWatchers(bool withRounds = false)
        : CountingWatchers([this](int timeoutMs) { waitAndDispatch(timeoutMs); })
        , m_withRounds(withRounds)
    {
    }

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override
    {
        return watcherFor(addEntry(socket, false, std::move(onReady)));
    }
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override
    {
        return watcherFor(addEntry(socket, true, std::move(onReady)));
    }
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override
    {
        return m_withRounds ? m_roundEndHooks.add(std::move(onRoundEnd)) : nullptr;
    }

private:
    // Calls every ready watcher once, in the order they were made, skipping those that an
    // earlier callback disabled or destroyed.
    void waitAndDispatch(int timeoutMs)
    {
        std::vector<std::shared_ptr<Entry>> watched;
        std::vector<pollfd> fds;
        for (const auto& entry : m_entries) {
            if (!entry->enabled)
                continue;
            watched.push_back(entry);
            fds.push_back(pollfd { descriptorOf(entry->socket), static_cast<short>(entry->writable ? POLLOUT : POLLIN), 0 });
        }
        if (poll(fds.data(), fds.size(), timeoutMs) <= 0)
            return;
        int calls = 0;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLNVAL) {
                countInvalidDescriptor();
                continue;
            }
            if (!(fds[i].revents & (fds[i].events | POLLERR | POLLHUP)))
                continue;
            if (watched[i]->enabled && call(*watched[i]))
                ++calls;
        }
        if (calls > 0)
            m_roundEndHooks.run();
    }

    bool m_withRounds;
    RoundEndHooks m_roundEndHooks;
};
