// Socket readiness on the window thread as window messages: WSAAsyncSelect posts a message to
// a hidden message-only window whenever a watched socket becomes readable or writable, and
// the message loop (also a nested one: a message box, the pop-up menu) dispatches it, one at
// a time, to the watcher's callback.
//
// Winsock posts a readiness message once and again only after the call that re-enables it
// (recv, send, accept). The watcher interface is level-triggered, so a watcher that becomes
// enabled first asks the socket whether it is ready already and, if so, posts the message
// itself; a message that arrives for a disabled watcher is dropped, since enabling it again
// looks afresh.
//
// Winsock's messages are not delivered as they come: a socket that always has data (a client
// flooding the room) gets several of them queued per turn (one per recv that left data behind,
// one per re-registration, one of the watcher's own), and each would be another full turn for
// it while the other sockets' messages wait behind an ever longer queue. So a socket's messages
// are gathered into one pending delivery, queued behind those of the other sockets: every
// ready socket has one turn per round. The round's end is a message of its own, behind the
// round's deliveries, so that the server component writes what the round sent at once.
#pragma once

#include "net/ReadinessWatcher.h"

class Win32ReadinessWatcherFactory final : public ReadinessWatcherFactory {
public:
    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override;
};
