// How the server component learns that a socket is ready: a small interface that the window
// system's backend implements (one epoll set on Linux, watched by the window loop; window
// messages on Windows; poll in tests), so that readiness arrives on the window thread, one
// notification at a time, also inside nested loops (a message box, the pop-up menu). The
// program's entry point makes the window thread's watchers and passes them down.
#pragma once

#include "net/SocketHandle.h"

#include <chrono>
#include <functional>
#include <memory>

// Watches one socket for one kind of readiness while it lives; destroying it stops the
// watch. After destruction the callback is never called again. Readiness is level-triggered:
// a socket that stays ready is reported again after each callback returns.
class ReadinessWatcher {
public:
    virtual ~ReadinessWatcher() = default;
    virtual void setEnabled(bool enabled) = 0;
};

// Registered work that runs after each round of readiness callbacks while it lives (see
// ReadinessWatcherFactory::afterEachRound); destroying it ends that.
class RoundEndHook {
public:
    virtual ~RoundEndHook() = default;
};

// Work due at a time of the steady clock (see ReadinessWatcherFactory::wakeAt); destroying it
// before then cancels it.
class Alarm {
public:
    virtual ~Alarm() = default;
};

class ReadinessWatcherFactory {
public:
    virtual ~ReadinessWatcherFactory() = default;
    // A new watcher starts disabled.
    virtual std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) = 0;
    virtual std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) = 0;
    // A round is the callbacks of the sockets found ready at one look; `onRoundEnd` runs when
    // one is over (a nested round as well), before the loop looks or waits again. That lets
    // the server component write a round's messages to each client at once. A loop without
    // such rounds returns nothing: the caller must then not wait for one.
    virtual std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd)
    {
        (void)onRoundEnd;
        return nullptr;
    }
    // Runs `onDue` once on the window thread at `due` or soon after, also when no socket is
    // ready and inside nested loops, so that a deadline holds in a quiet room. A loop without
    // a clock returns nothing: the caller then checks its deadlines when a socket is ready.
    virtual std::unique_ptr<Alarm> wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue)
    {
        (void)due;
        (void)onDue;
        return nullptr;
    }
};
