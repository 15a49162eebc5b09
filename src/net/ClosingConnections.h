// Connections that have left the roster but still send what was queued for them (a kick
// notice behind a backlog), each until its queue is empty or its deadline has passed; then
// the connection's graceful close ends it.
#pragma once

#include "net/Connection.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class ClosingConnections {
public:
    // How long a closing connection (and the component's own closing) may spend sending what
    // is queued.
    static constexpr int kFlushMs = 1000;

    ClosingConnections() = default;
    ClosingConnections(const ClosingConnections&) = delete;
    ClosingConnections& operator=(const ClosingConnections&) = delete;

    // Changes how long a connection closed from now on may send (kFlushMs unless set).
    void setFlushTime(std::chrono::milliseconds time) { m_flushTime = time; }
    // Closes the connection now when its queue goes out at once, else keeps it until then.
    void close(std::unique_ptr<Connection> connection);
    // Closes those whose deadline has passed: they give up what their peers did not take.
    void closeExpired();
    // The earliest deadline of a connection still sending, if any.
    std::optional<std::chrono::steady_clock::time_point> nextDeadline() const;
    // The connections still sending, for the component's final flush.
    std::vector<Connection*> all() const;
    void closeAll()
    {
        m_connections.clear();
        m_closed.clear();
    }

private:
    struct Closing {
        std::unique_ptr<Connection> connection;
        std::chrono::steady_clock::time_point deadline;
    };
    void remove(const Connection* connection);

    std::chrono::milliseconds m_flushTime { kFlushMs };

    std::vector<Closing> m_connections;
    // Closed on expiry but kept until the next expiry check: the expiry check runs on entry
    // to a readiness callback, which may be this connection's own.
    std::vector<std::unique_ptr<Connection>> m_closed;
};
