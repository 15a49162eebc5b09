// One client connection of the server component: its socket, its transport, what waits to be
// written (the delivery queue and the write watch that drains it), and the one graceful close
// that every connection ends with, whether it leaves the roster or closes with the component.
//
// The seam for other kinds of client: the socket below moves bytes only; the transport above
// it (ConnectionTransport.h) decides what the bytes mean. Reading gives the raw bytes, which
// the server hands to transport().decode(); sending takes the bytes transport().frame() made.
// So a new kind of client adds a transport and a listener, and touches neither this class nor
// the roster.
//
// Delivery never waits on a client. A message is handed to the socket as far as it takes it
// now, and the rest waits in the queue until the socket is writable, before anything later;
// a message is queued whole or not at all (the caps are the caller's, see DeliveryBudget).
#pragma once

#include "net/ConnectionTransport.h"
#include "net/DeliveryBudget.h"
#include "net/DeliveryQueue.h"
#include "net/ReadinessDispatch.h"
#include "net/ReadinessWatcher.h"
#include "net/RoundGathering.h"
#include "net/SocketHandle.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// What every connection of one server shares.
struct ConnectionServices {
    ReadinessWatcherFactory& watchers;
    ReadinessDispatch& dispatch;
    DeliveryBudget& budget;
};

class Connection {
public:
    Connection(OwnedSocket socket, std::string address, std::unique_ptr<ConnectionTransport> transport, ConnectionServices& services);
    // The graceful close, if it has not been made yet.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The peer's "a.b.c.d:port".
    const std::string& address() const { return m_address; }
    ConnectionTransport& transport() { return *m_transport; }

    // Reading. The watch starts disabled; the owner turns it on and off.
    void watchReadable(std::function<void()> onReadable);
    void setReading(bool enabled);
    struct Received {
        std::string bytes;
        // The peer has closed or the connection failed: that is the client's closure.
        bool ended = false;
    };
    // What the socket holds now, up to one notification's budget.
    Received receive();
    // True when the peer has closed or reset, whatever input is still unread.
    bool peerHasEnded() const;

    // Writing. `wire` is what goes on the wire (already framed). False when the connection was
    // found broken before the socket took any of it, or is closing.
    bool deliver(std::string_view wire);
    // The closing state, set once and never cleared: from then on nothing more is written for
    // the connection. What it was sent before (its queue) still goes out until it is closed.
    // The server sets it right after the connection's last words, whatever ends it (the peer's
    // close, a protocol error, a kick, the room's end, a cap, a deadline).
    void markClosing() { m_closing = true; }
    bool isClosing() const { return m_closing; }
    // Makes room for `message` bytes under `cap` by dropping whole queued messages that the
    // peer has not started to receive, the newest first; true when they fit then.
    bool dropUnstartedToFit(size_t message, size_t cap) { return m_queue.dropUnstartedToFit(message, cap); }
    // Writes from the queue while the socket takes data; true when the queue is empty.
    bool flush();
    size_t queuedBytes() const { return m_queue.size(); }
    SocketHandle socket() const { return m_socket.get(); }
    // This connection's run of the round's gathered bytes (RoundGathering's bookkeeping).
    GatheredRun& gatheredRun() { return m_gatheredRun; }

    // Called once the queue has gone out (a connection that is closing is then closed).
    void onDrained(std::function<void()> drained) { m_onDrained = std::move(drained); }
    // Stops reading; the connection no longer takes part in the room.
    void stopReading();
    // The graceful close: send what the socket takes of the queue without waiting, drop the
    // rest and any unread input (so that the connection ends with FIN rather than a reset),
    // close. Idempotent.
    void close();

private:
    void onWritable();
    void updateWriteWatch();
    void dropQueued();

    OwnedSocket m_socket;
    std::string m_address;
    std::unique_ptr<ConnectionTransport> m_transport;
    ConnectionServices& m_services;
    std::unique_ptr<ReadinessWatcher> m_readWatcher;
    std::unique_ptr<ReadinessWatcher> m_writeWatcher;
    DeliveryQueue m_queue;
    GatheredRun m_gatheredRun;
    std::function<void()> m_onDrained;
    bool m_closing = false;
};

// Writes what is queued on every connection within one shared deadline, not one each: a
// room of stalled readers closes in about that time.
void flushUntilDeadline(std::span<Connection* const> connections, int milliseconds);
