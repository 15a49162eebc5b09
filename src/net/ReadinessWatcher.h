// How the server component learns that a socket is ready: a small interface that the window
// system's backend implements (QSocketNotifier on Linux, window messages on Windows, poll in
// tests), so that readiness arrives on the window thread, one notification at a time, also
// inside nested loops (a message box, the pop-up menu).
#pragma once

#include "net/SocketHandle.h"

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

class ReadinessWatcherFactory {
public:
    virtual ~ReadinessWatcherFactory() = default;
    // A new watcher starts disabled.
    virtual std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) = 0;
    virtual std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) = 0;
};

// The watchers of the window thread's own loop, as the backend provides them.
ReadinessWatcherFactory& windowThreadWatchers();
