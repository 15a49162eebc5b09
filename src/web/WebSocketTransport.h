// A browser's connection: HTTP first (the page, or the upgrade to a WebSocket at "/ws", or an
// error), then WebSocket frames. Only an upgraded connection joins the roster. What the room
// relays goes out as binary frames, unchanged; the server's own texts go out as text frames
// in UTF-8, so that the page acts on those alone. From the browser, a text frame is UTF-8 and
// enters the room in code page 936 (a character without a form there becomes "?"); a binary
// frame enters as it is. Ping, pong and the close handshake follow RFC 6455; a frame that
// breaks the protocol ends the connection with its close code.
#pragma once

#include "net/ConnectionTransport.h"
#include "web/HttpAnswers.h"
#include "web/HttpRequest.h"
#include "web/WebSocketFrames.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class WebSocketTransport final : public ConnectionTransport {
public:
    // The site (the page and the names it is served to) is built once for the entrance and
    // shared by its connections.
    explicit WebSocketTransport(std::shared_ptr<const WebSite> site);

    bool joinsOnAccept() const override { return false; }
    Incoming decode(std::string&& bytes) override;
    std::string_view frame(std::string_view message, MessageKind kind, std::string& scratch) override;
    std::string farewell(CloseReason reason) override;

private:
    enum class Phase { Request, Open, Closed };

    Incoming readRequest(std::string&& bytes);
    void readFrames(std::string_view bytes, Incoming& incoming);
    void close(uint16_t code, Incoming& incoming);

    std::shared_ptr<const WebSite> m_site;
    Phase m_phase = Phase::Request;
    // Only while the request is read: an open connection keeps nothing of it.
    std::unique_ptr<HttpRequestReader> m_request;
    websocket::FrameDecoder m_frames;
};
