// How the server component learns that a socket is ready: a small interface that the window
// system implements (the console with QSocketNotifier, a test with poll), so that readiness
// arrives on the window thread, one notification at a time, also inside nested loops.
#pragma once

#include <functional>
#include <memory>

// Watches one descriptor for one kind of readiness while it lives; destroying it stops the
// watch. After destruction the callback is never called again.
class ReadinessWatcher {
public:
    virtual ~ReadinessWatcher() = default;
    virtual void setEnabled(bool enabled) = 0;
};

class ReadinessWatcherFactory {
public:
    virtual ~ReadinessWatcherFactory() = default;
    virtual std::unique_ptr<ReadinessWatcher> watchReadable(int fd, std::function<void()> onReady) = 0;
    virtual std::unique_ptr<ReadinessWatcher> watchWritable(int fd, std::function<void()> onReady) = 0;
};
