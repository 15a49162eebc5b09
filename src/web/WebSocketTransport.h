// A browser's connection: HTTP first (the page, or the upgrade to a WebSocket at "/ws", or an
// error), then WebSocket frames. Only an upgraded connection joins the roster. What the room
// relays goes out as binary frames, unchanged; the server's own texts go out as text frames
// in UTF-8, so that the page acts on those alone. From the browser, a text frame is UTF-8 and
// enters the room in code page 936 (a character without a form there becomes "?"); a binary
// frame enters as it is. Ping, pong and the close handshake follow RFC 6455; a frame that
// breaks the protocol ends the connection with its close code.
// A page that asks for the message format of version 2 (PageFormat.h) follows the room: every
// frame both ways is then a JSON text frame, and it joins the roster once it gives its name.
#pragma once

#include "net/ConnectionTransport.h"
#include "web/HttpAnswers.h"
#include "web/HttpRequest.h"
#include "web/WebSocketFrames.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class WebSocketTransport final : public ConnectionTransport {
public:
    // The site (the page and the names it is served to) is built once for the entrance and
    // shared by its connections.
    explicit WebSocketTransport(std::shared_ptr<const WebSite> site);

    bool joinsOnAccept() const override { return false; }
    Incoming decode(std::string&& bytes) override;
    std::string_view frame(const OutgoingMessage& message, std::string& scratch) override;
    std::string farewell(CloseReason reason) override;
    bool isWeb() const override { return true; }
    bool followsRoom() const override { return m_pageFormat; }
    std::string welcome(const Welcome& welcome) override;
    std::string live() override;
    std::string members(std::string_view self, const MemberList& members) override;
    std::string ping() override;

private:
    enum class Phase { Request, Open, Closed };

    Incoming readRequest(std::string&& bytes);
    void readFrames(std::string_view bytes, Incoming& incoming);
    void close(uint16_t code, Incoming& incoming);
    // A text frame of the format of version 2; false when it ends the connection.
    bool readPageFrame(std::string_view payload, Incoming& incoming);
    static std::string textFrame(std::string_view text);

    std::shared_ptr<const WebSite> m_site;
    Phase m_phase = Phase::Request;
    // Only while the request is read: an open connection keeps nothing of it.
    std::unique_ptr<HttpRequestReader> m_request;
    websocket::FrameDecoder m_frames;
    bool m_pageFormat = false;
    bool m_named = false;
};
