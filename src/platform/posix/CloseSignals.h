// SIGINT, SIGTERM and SIGHUP as close requests on the window thread: the signal handler only
// writes a byte into a pipe, whose read end the window thread watches like a socket.
#pragma once

#include "net/ReadinessWatcher.h"

#include <functional>
#include <memory>

class CloseSignals {
public:
    // Installs the handlers; `onRequest` runs on the window thread for each request.
    CloseSignals(ReadinessWatcherFactory& watchers, std::function<void()> onRequest);
    // Restores the default handlers and closes the pipe.
    ~CloseSignals();
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

private:
    void drainAndNotify();

    std::function<void()> m_onRequest;
    std::unique_ptr<ReadinessWatcher> m_watcher;
};

// Every client holds a descriptor: allow as many as the system lets this process have.
void raiseDescriptorLimit();
