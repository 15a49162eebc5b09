// The web entrance of the server component: a second listening port whose connections are
// browsers (WebSocketTransport), all served the one page built at the opening, and only under
// the room's own names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Listener;
class TcpServer;

// What the entrance is told of the machine by its caller, which asks the system.
struct WebEntranceNames {
    // The machine's host name; empty when unknown.
    std::string hostName;
    // The names the administrator added.
    std::vector<std::string> addedNames;
    // The address (IPv4, dotted decimal) a browser that came by another name is sent to;
    // empty when the machine has none.
    std::string address;
};

// The entrance lives as long as the server; the listener says whether it listens, and why
// not.
const Listener& openWebEntrance(TcpServer& server, uint16_t port, const WebEntranceNames& names);
