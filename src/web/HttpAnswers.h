// What the web entrance answers to a request head: the page at "/", the WebSocket handshake
// at "/ws", a short error for anything else. Every answer but the handshake ends the
// connection (Connection: close); the entrance serves one request per connection.
#pragma once

#include "web/HttpRequest.h"
#include "web/HttpStatus.h"
#include "web/WebPage.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kPagePath = "/";
inline constexpr std::string_view kWebSocketPath = "/ws";

struct HttpAnswer {
    HttpStatus status;
    std::string bytes;
    // The connection now speaks WebSocket (the answer is the handshake's).
    bool upgraded = false;
    // The page asked for the message format of version 2 (PageFormat.h) and got it.
    bool pageFormat = false;
};

HttpAnswer answerRequest(const HttpRequest& request, const WebPage& page);
// A short plain-text answer with that status, and whatever the status needs besides.
std::string errorResponse(HttpStatus status);

// The handshake's accept key for a client's key (RFC 6455, section 4.2.2).
std::string webSocketAccept(std::string_view clientKey);
// Whether an Origin field names this entrance: the same host and port as the Host field the
// browser sent, over plain http (the entrance serves nothing else).
bool originMatchesHost(std::string_view origin, std::string_view host);
