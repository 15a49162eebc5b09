// The web entrance of the server component: a second listening port whose connections are
// browsers (WebSocketTransport), all served the one page built at the opening.
#pragma once

#include <cstdint>

class Listener;
class TcpServer;

// The entrance lives as long as the server; the listener says whether it listens, and why
// not.
const Listener& openWebEntrance(TcpServer& server, uint16_t port);
