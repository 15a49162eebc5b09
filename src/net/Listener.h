// One listening socket of the server component and the taking of its connections: IPv4 on
// every local address, a batch of accepts per notification, and the throttling that keeps a
// full descriptor table from spinning the loop (the spare handle, pausing until a handle is
// freed). What to make of an accepted connection is the owner's: a server can have several
// listeners, each making its own kind of connection.
#pragma once

#include "net/ReadinessDispatch.h"
#include "net/ReadinessWatcher.h"
#include "net/SocketHandle.h"
#include "net/SocketOperations.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Listener {
public:
    // A connection taken: its socket and the peer's "a.b.c.d:port".
    using OnAccepted = std::function<void(OwnedSocket socket, std::string address)>;

    Listener(ReadinessWatcherFactory& watchers, ReadinessDispatch& dispatch, OnAccepted onAccepted);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Closes the old socket, if any, and listens on `port`; false when that port cannot be
    // opened (failure() says why, in words).
    bool listen(uint16_t port);
    void close();
    bool isListening() const { return m_socket.valid(); }
    // Why the last attempt to listen failed; empty while listening.
    const std::string& failure() const { return m_failure; }

    // A handle was freed: accepting resumes if it was paused for want of one.
    void handleFreed();

private:
    void onAcceptReady();
    void pause();

    ReadinessWatcherFactory& m_watchers;
    ReadinessDispatch& m_dispatch;
    OnAccepted m_onAccepted;
    OwnedSocket m_socket;
    std::string m_failure;
    std::unique_ptr<ReadinessWatcher> m_watcher;
    sockets::SpareHandle m_spare;
    bool m_paused = false;
};
