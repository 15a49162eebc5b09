// The web entrance (see WebEntrance.h).
#include "web/WebEntrance.h"

#include "net/TcpServer.h"
#include "web/WebPage.h"
#include "web/WebSocketTransport.h"

#include <memory>

const Listener& openWebEntrance(TcpServer& server, uint16_t port)
{
    auto page = std::make_shared<const WebPage>(buildRoomPage(port));
    return server.openEntrance(port, [page] { return std::make_unique<WebSocketTransport>(page); });
}
