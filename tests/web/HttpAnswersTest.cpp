// What the entrance answers to each request: the page, the handshake, or which error; the
// names it answers to; and the two checks of the handshake, its accept key and its Origin rule.
#include "web/HttpAnswers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HttpRequest requestOf(std::string head)
{
    HttpRequestReader reader;
    reader.feed(head + "\r\n");
    EXPECT_EQ(reader.state(), HttpRequestReader::State::Complete) << head;
    return reader.request();
}

const std::string kUpgradeFields = "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
                                   "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
const std::string kUpgrade = "GET /ws HTTP/1.1\r\nHost: 10.0.0.5:19731\r\n" + kUpgradeFields;

// A machine named room-pc at 10.0.0.5, whose administrator added the names h and chat.example.
WebSite siteWith(WebPage page)
{
    return { std::move(page), RoomHosts("Room-PC", { "h", "Chat.Example" }), "http://10.0.0.5:19731/" };
}

TEST(HttpAnswers, EachRequestGetsItsAnswer)
{
    const WebSite site = siteWith({ "<p>page</p>", "default-src 'none'" });
    struct Case {
        std::string head;
        int status;
    };
    const Case cases[] = {
        { "GET / HTTP/1.1\r\nHost: h\r\n", 200 },
        { "GET /?from=qr HTTP/1.1\r\nHost: h\r\n", 200 },
        { "GET / HTTP/1.0\r\n", 200 },
        { kUpgrade, 101 },
        // Which origins match is the origin table's; here, that the answer follows it.
        { kUpgrade + "Origin: http://10.0.0.5:19731\r\n", 101 },
        { kUpgrade + "Origin: http://evil.example\r\n", 403 },
        { kUpgrade + "Origin: http://10.0.0.5:19731\r\nOrigin: http://10.0.0.5:19731\r\n", 403 },
        { "POST / HTTP/1.1\r\nHost: h\r\n", 405 },
        { "HEAD / HTTP/1.1\r\nHost: h\r\n", 405 },
        { "GET /favicon.ico HTTP/1.1\r\nHost: h\r\n", 404 },
        // Absolute form: the target names the host, and Host is ignored.
        { "GET http://h/ HTTP/1.1\r\nHost: h\r\n", 200 },
        { "GET HTTP://10.0.0.5:19731?x HTTP/1.1\r\nHost: evil.test\r\n", 200 },
        { "GET http://10.0.0.5:19731/ws HTTP/1.1\r\nHost: evil.test\r\n" + kUpgradeFields + "Origin: http://10.0.0.5:19731\r\n", 101 },
        { "GET http://evil.test:19731/ws HTTP/1.1\r\nHost: 10.0.0.5:19731\r\n" + kUpgradeFields, 421 },
        { "GET http://h/favicon.ico HTTP/1.1\r\nHost: h\r\n", 404 },
        { "GET https://h/ HTTP/1.1\r\nHost: h\r\n", 400 },
        { "GET http://user@h/ HTTP/1.1\r\nHost: h\r\n", 400 },
        { "GET http:///ws HTTP/1.1\r\nHost: h\r\n", 400 },
        { "GET * HTTP/1.1\r\nHost: h\r\n", 400 },
        // A page elsewhere whose name points here (DNS rebinding), with a matching Origin.
        { "GET /ws HTTP/1.1\r\nHost: evil.test:19731\r\n" + kUpgradeFields + "Origin: http://evil.test:19731\r\n", 421 },
        { "GET / HTTP/1.1\r\nHost: evil.test:19731\r\n", 421 },
        { "GET /favicon.ico HTTP/1.1\r\nHost: evil.test\r\n", 421 },
        { "GET / HTTP/1.1\r\nHost: h:x\r\n", 400 },
        { "GET / HTTP/1.1\r\n", 400 },
        { "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n", 400 },
        { "GET / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n", 400 },
        { "GET /ws HTTP/1.1\r\nHost: h\r\n", 426 },
        { "GET /ws HTTP/1.0\r\nHost: h\r\nUpgrade: websocket\r\nConnection: upgrade\r\n", 400 },
        { "GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: upgrade\r\nSec-WebSocket-Version: 8\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", 426 },
        { "GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: c2hvcnQ=\r\n", 400 },
        { "GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: upgrade\r\nSec-WebSocket-Version: 13\r\n", 400 },
    };
    for (const Case& c : cases) {
        HttpAnswer answer = answerRequest(requestOf(c.head), site);
        EXPECT_EQ(answer.status.code, c.status) << c.head;
        EXPECT_EQ(answer.upgraded, c.status == 101) << c.head;
        EXPECT_TRUE(answer.bytes.starts_with("HTTP/1.1 " + std::to_string(c.status) + " ")) << answer.bytes;
        EXPECT_NE(answer.bytes.find("\r\n\r\n"), std::string::npos);
        EXPECT_EQ(answer.bytes.find("Connection: close") != std::string::npos, c.status != 101) << c.head;
    }
}

TEST(HttpAnswers, ThePageComesWithItsPolicyAndLength)
{
    const WebPage page { "<p>页面</p>", "default-src 'none'; script-src 'sha256-x'" };
    std::string bytes = answerRequest(requestOf("GET / HTTP/1.1\r\nHost: h\r\n"), siteWith(page)).bytes;
    EXPECT_NE(bytes.find("\r\nContent-Security-Policy: default-src 'none'; script-src 'sha256-x'\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nContent-Type: text/html; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nContent-Length: " + std::to_string(page.html.size()) + "\r\n"), std::string::npos);
    EXPECT_TRUE(bytes.ends_with("\r\n\r\n" + page.html));
}

TEST(HttpAnswers, TheHandshakeAnswersWithTheAcceptKey)
{
    // RFC 6455, section 1.3.
    EXPECT_EQ(webSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    std::string bytes = answerRequest(requestOf(kUpgrade), siteWith({})).bytes;
    EXPECT_EQ(bytes, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
    EXPECT_NE(errorResponse(http_status::kMethodNotAllowed).find("\r\nAllow: GET\r\n"), std::string::npos);
    EXPECT_NE(errorResponse(http_status::kUpgradeRequired).find("\r\nSec-WebSocket-Version: 13\r\n"), std::string::npos);
}

TEST(HttpAnswers, OnlyTheRoomsOwnNamesAreAdmitted)
{
    const RoomHosts hosts("Room-PC", { "h", "Chat.Example" });
    struct Case {
        const char* host;
        bool admitted;
    };
    const Case cases[] = {
        { "10.0.0.5", true },
        { "192.168.001.020", true },
        { "[::1]", true },
        { "[fe80::1:abcd]", true },
        { "[::ffff:10.0.0.5]", true },
        { "LocalHost", true },
        { "localhost.", true },
        { "room-pc", true },
        { "ROOM-PC.local", true },
        { "room-pc.local.", true },
        { "chat.example", true },
        { "h", true },
        { "evil.test", false },
        { "localhost.evil.test", false },
        { "room-pc.evil.test", false },
        { "10.0.0.5.evil.test", false },
        { "256.0.0.1", false },
        { "10.0.0", false },
        { "10.0.0.5.6", false },
        { "1..2.3", false },
        { "0x7f.0.0.1", false },
        { "[evil.test]", false },
        { "[::1", false },
        { "[1]", false },
        { ".", false },
        { "pc", false },
        { "h.local", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(hosts.admits(c.host), c.admitted) << c.host;
    // An unknown machine name admits no empty name, nor a bare ".local".
    const RoomHosts unnamed("", {});
    EXPECT_FALSE(unnamed.admits(""));
    EXPECT_FALSE(unnamed.admits(".local"));
    EXPECT_TRUE(unnamed.admits("localhost"));
}

TEST(HttpAnswers, AMisdirectedBrowserIsToldTheRoomsAddress)
{
    std::string page = answerRequest(requestOf("GET / HTTP/1.1\r\nHost: evil.test:19731\r\n"), siteWith({})).bytes;
    EXPECT_TRUE(page.starts_with("HTTP/1.1 421 Misdirected Request\r\n")) << page;
    EXPECT_NE(page.find("\r\n\r\n421 Misdirected Request\nOpen http://10.0.0.5:19731/ to join the chat room.\n"), std::string::npos) << page;
    // A script is told the status alone.
    std::string upgrade = answerRequest(requestOf("GET /ws HTTP/1.1\r\nHost: evil.test\r\n" + kUpgradeFields), siteWith({})).bytes;
    EXPECT_TRUE(upgrade.ends_with("\r\n\r\n421 Misdirected Request\n")) << upgrade;
}

TEST(HttpAnswers, AnOriginMatchesOnlyItsOwnHostAndPort)
{
    struct Case {
        const char* origin;
        const char* host;
        bool matches;
    };
    const Case cases[] = {
        { "http://192.168.1.4:19731", "192.168.1.4:19731", true },
        { "HTTP://10.0.0.5:019731", "10.0.0.5:19731", true },
        { "https://10.0.0.5:19731", "10.0.0.5:19731", false },
        { "null", "10.0.0.5:19731", false },
        { "http://Room.Local:8080", "room.local:8080", true },
        { "http://room.local", "room.local:80", true },
        { "http://room.local:80", "room.local", true },
        { "http://[::1]:19731", "[::1]:19731", true },
        { "http://192.168.1.4:19731", "192.168.1.4", false },
        { "http://192.168.1.40:19731", "192.168.1.4:19731", false },
        { "http://192.168.1.4:19731/", "192.168.1.4:19731", false },
        { "http://a.b@192.168.1.4:19731", "192.168.1.4:19731", false },
        { "ws://192.168.1.4:19731", "192.168.1.4:19731", false },
        { "http://", "", false },
        { "http://h:", "h:", false },
        { "http://h:x", "h:x", false },
        { "http://[::1", "[::1", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(originMatchesHost(c.origin, c.host), c.matches) << c.origin << " / " << c.host;
}

} // namespace
