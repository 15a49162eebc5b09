// One client of the server component as its roster keeps it: shared by the component's two
// source files (the roster and events, and delivery), private to them.
#pragma once

#include "net/Connection.h"
#include "net/TcpServer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct TcpServer::Client {
    uint64_t id = 0;
    size_t position = 0; // in m_clients, while on the roster
    std::unique_ptr<Connection> connection;
    // One of this client's events is being handled: its input waits until that returns.
    bool inEvent = false;
    const std::string& address() const { return connection->address(); }
};
