// Socket readiness on the window thread, for the server component and the close-signal pipe:
// one epoll set for every socket, whose descriptor is the only one Qt's loop watches for them
// (one QSocketNotifier), so that waking up costs what is ready rather than a look at every
// client. Without an epoll set each socket gets a QSocketNotifier of its own.
#pragma once

#include "net/ReadinessWatcher.h"
#include "platform/posix/EpollWatchers.h"

#include <QPointer>
#include <QSocketNotifier>

class QtReadinessWatcherFactory final : public ReadinessWatcherFactory {
public:
    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override;
    // The epoll set's rounds; the fallback's notifiers have none.
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override;
    // The set's timerfd; the fallback's a single-shot QTimer.
    std::unique_ptr<Alarm> wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue) override;

private:
    // The epoll set with its notifier in the current application; nothing without a set.
    EpollWatchers* epollSet();

    EpollWatchers m_set;
    QPointer<QSocketNotifier> m_notifier;
};
