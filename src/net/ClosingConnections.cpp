// Connections that still send what was queued before they close (see ClosingConnections.h).
#include "net/ClosingConnections.h"

#include <algorithm>

void ClosingConnections::close(std::unique_ptr<Connection> connection)
{
    connection->stopReading();
    if (connection->flush())
        return; // the connection's destructor closes it
    Connection* raw = connection.get();
    raw->onDrained([this, raw] { remove(raw); });
    m_connections.push_back({ std::move(connection), std::chrono::steady_clock::now() + m_flushTime });
}

void ClosingConnections::closeExpired()
{
    m_closed.clear();
    auto now = std::chrono::steady_clock::now();
    std::erase_if(m_connections, [this, now](Closing& closing) {
        if (closing.deadline > now)
            return false;
        closing.connection->close();
        m_closed.push_back(std::move(closing.connection));
        return true;
    });
}

std::optional<std::chrono::steady_clock::time_point> ClosingConnections::nextDeadline() const
{
    if (m_connections.empty())
        return std::nullopt;
    auto earliest = std::ranges::min_element(m_connections, {}, &Closing::deadline);
    return earliest->deadline;
}

std::vector<Connection*> ClosingConnections::all() const
{
    std::vector<Connection*> connections;
    for (const Closing& closing : m_connections)
        connections.push_back(closing.connection.get());
    return connections;
}

void ClosingConnections::remove(const Connection* connection)
{
    std::erase_if(m_connections, [connection](const Closing& closing) { return closing.connection.get() == connection; });
}
