// The entrance's answers (see HttpAnswers.h) and the checks of the WebSocket opening
// handshake (RFC 6455, section 4.2.1).
#include "web/HttpAnswers.h"

#include "web/Base64.h"
#include "web/Digest.h"
#include "web/PageFormat.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr std::string_view kHandshakeGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr std::string_view kRequiredVersion = "HTTP/1.1";
constexpr std::string_view kWebSocketVersion = "13";
constexpr size_t kClientKeyBytes = 16;
constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kPlainDefaultPort = "80";

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// Whether a comma-separated field value lists `token` (case-insensitive), as Connection and
// Upgrade do.
bool listsToken(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        size_t comma = value.find(',');
        std::string_view item = value.substr(0, comma);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (equalsIgnoringCase(item, token))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

// "host[:port]" as a lower-case host and a port (the default when none is written); nothing
// when it is not of that shape. An IPv6 literal keeps its brackets.
std::optional<std::pair<std::string, std::string>> splitAuthority(std::string_view authority, std::string_view defaultPort)
{
    size_t hostEnd = authority.size();
    if (authority.starts_with('[')) {
        hostEnd = authority.find(']');
        if (hostEnd == std::string_view::npos)
            return std::nullopt;
        ++hostEnd;
    } else if (size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        hostEnd = colon;
    }
    std::string_view host = authority.substr(0, hostEnd);
    std::string_view port = authority.substr(hostEnd);
    if (host.empty())
        return std::nullopt;
    if (!port.empty()) {
        if (port.front() != ':')
            return std::nullopt;
        port.remove_prefix(1);
        if (port.empty() || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        port = port.substr(std::min(port.find_first_not_of('0'), port.size() - 1));
    } else {
        port = defaultPort;
    }
    std::string lowerHost(host);
    std::transform(lowerHost.begin(), lowerHost.end(), lowerHost.begin(), asciiLower);
    return std::pair { lowerHost, std::string(port) };
}

std::string statusLine(HttpStatus status)
{
    return "HTTP/1.1 " + std::to_string(status.code) + " " + std::string(status.reason) + "\r\n";
}

// What some statuses must say besides: which method is allowed, which protocol to upgrade to.
std::string_view extraFieldsFor(HttpStatus status)
{
    if (status == http_status::kMethodNotAllowed)
        return "Allow: GET\r\n";
    if (status == http_status::kUpgradeRequired)
        return "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n";
    return {};
}

std::string pageResponse(const WebPage& page)
{
    return statusLine(http_status::kOk) + "Content-Type: text/html; charset=utf-8\r\n"
        + "Content-Length: " + std::to_string(page.html.size()) + "\r\n"
        + "Content-Security-Policy: " + page.contentSecurityPolicy + "\r\n"
        + "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n"
        + page.html;
}

HttpAnswer refuse(HttpStatus status) { return { status, errorResponse(status), false }; }

HttpAnswer answerUpgrade(const HttpRequest& request)
{
    std::optional<std::string_view> upgrade = request.field("upgrade");
    std::optional<std::string_view> connection = request.field("connection");
    if (!upgrade || !connection || !listsToken(*upgrade, "websocket") || !listsToken(*connection, "upgrade"))
        return refuse(http_status::kUpgradeRequired);
    if (request.version != kRequiredVersion)
        return refuse(http_status::kBadRequest);
    if (request.fieldCount("sec-websocket-version") != 1 || request.field("sec-websocket-version") != kWebSocketVersion)
        return refuse(http_status::kUpgradeRequired);
    std::optional<std::string_view> key = request.field("sec-websocket-key");
    if (request.fieldCount("sec-websocket-key") != 1 || base64DecodedSize(*key) != kClientKeyBytes)
        return refuse(http_status::kBadRequest);
    // A page elsewhere must not turn its visitors' browsers into members; programs send no
    // Origin and are let in like TCP clients.
    size_t origins = request.fieldCount("origin");
    if (origins > 1 || (origins == 1 && !originMatchesHost(*request.field("origin"), *request.field("host"))))
        return refuse(http_status::kForbidden);
    // A page that asks for the format of version 2 gets it; any other, today's format.
    bool pageFormat = listsToken(request.field("sec-websocket-protocol").value_or(""), kPageFormatProtocol);
    std::string protocol = pageFormat ? "Sec-WebSocket-Protocol: " + std::string(kPageFormatProtocol) + "\r\n" : "";
    std::string bytes = statusLine(http_status::kSwitchingProtocols) + "Upgrade: websocket\r\nConnection: Upgrade\r\n"
        + "Sec-WebSocket-Accept: " + webSocketAccept(*key) + "\r\n" + protocol + "\r\n";
    return { http_status::kSwitchingProtocols, std::move(bytes), true, pageFormat };
}

} // namespace

std::string errorResponse(HttpStatus status)
{
    std::string body = std::to_string(status.code) + " " + std::string(status.reason) + "\n";
    return statusLine(status) + std::string(extraFieldsFor(status)) + "Content-Type: text/plain; charset=utf-8\r\n"
        + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string webSocketAccept(std::string_view clientKey)
{
    std::string joined(clientKey);
    joined += kHandshakeGuid;
    return base64Encode(sha1(joined));
}

bool originMatchesHost(std::string_view origin, std::string_view host)
{
    if (origin.size() < kPlainScheme.size() || !equalsIgnoringCase(origin.substr(0, kPlainScheme.size()), kPlainScheme))
        return false;
    auto fromOrigin = splitAuthority(origin.substr(kPlainScheme.size()), kPlainDefaultPort);
    auto fromHost = splitAuthority(host, kPlainDefaultPort);
    return fromOrigin && fromHost && *fromOrigin == *fromHost;
}

HttpAnswer answerRequest(const HttpRequest& request, const WebPage& page)
{
    if (request.method != "GET")
        return refuse(http_status::kMethodNotAllowed);
    // One Host, as HTTP/1.1 demands; the entrance reads no body, so a request must bring none.
    if ((request.version == kRequiredVersion && request.fieldCount("host") != 1) || request.fieldCount("host") > 1)
        return refuse(http_status::kBadRequest);
    if (request.field("transfer-encoding") || request.field("content-length").value_or("0") != "0")
        return refuse(http_status::kBadRequest);
    std::string_view path = std::string_view(request.target).substr(0, request.target.find('?'));
    if (path == kPagePath)
        return { http_status::kOk, pageResponse(page), false };
    if (path == kWebSocketPath) {
        if (!request.field("host"))
            return refuse(http_status::kBadRequest);
        return answerUpgrade(request);
    }
    return refuse(http_status::kNotFound);
}
