// The web entrance (see WebEntrance.h).
#include "web/WebEntrance.h"

#include "net/TcpServer.h"
#include "web/HttpAnswers.h"
#include "web/WebSocketTransport.h"

#include <memory>

const Listener& openWebEntrance(TcpServer& server, uint16_t port, const WebEntranceNames& names)
{
    std::string homeUrl = names.address.empty() ? std::string() : "http://" + names.address + ":" + std::to_string(port) + "/";
    auto site = std::make_shared<const WebSite>(WebSite { buildRoomPage(port), RoomHosts(names.hostName, names.addedNames), std::move(homeUrl) });
    return server.openEntrance(port, [site] { return std::make_unique<WebSocketTransport>(site); });
}
