// One client of the server component as its roster keeps it: shared by the component's two
// source files (the roster and events, and delivery), private to them.
#pragma once

#include "net/Connection.h"
#include "net/TcpServer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct TcpServer::Client {
    uint64_t id = 0;
    size_t position = 0; // in m_clients, while on the roster
    std::unique_ptr<Connection> connection;
    // One of this client's events is being handled: its input waits until that returns.
    bool inEvent = false;
    // The roster name: the address of the connection it came with (a connection that takes
    // up the client's session later keeps it).
    std::string name;
    // For a client that follows the room: its session, the nickname it gave, and when
    // anything last came from it.
    std::string session;
    std::optional<std::string> nickname;
    std::chrono::steady_clock::time_point lastHeard;
    bool followsRoom() const { return connection->transport().followsRoom(); }
    const std::string& address() const { return name; }
};
