// The request head reader: what it takes, what it refuses with which status, and its limit,
// wherever the reads cut the head.
#include "web/HttpRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using State = HttpRequestReader::State;

HttpRequestReader readInPieces(const std::string& bytes, size_t piece)
{
    HttpRequestReader reader;
    for (size_t i = 0; i < bytes.size(); i += piece)
        reader.feed(std::string_view(bytes).substr(i, piece));
    return reader;
}

TEST(HttpRequestReader, ReadsTheHeadAndKeepsWhatFollows)
{
    const std::string bytes = "\r\nGET /ws?x=1 HTTP/1.1\r\nHost: a:1\r\nUpgrade:websocket \r\nX-Empty:\r\nSec-WebSocket-Key:  k==\t\r\n\r\n\x81\x80";
    for (size_t piece : { size_t { 1 }, size_t { 2 }, size_t { 5 }, bytes.size() }) {
        HttpRequestReader reader = readInPieces(bytes, piece);
        ASSERT_EQ(reader.state(), State::Complete) << "pieces of " << piece;
        const HttpRequest& request = reader.request();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, "/ws?x=1");
        EXPECT_EQ(request.version, "HTTP/1.1");
        EXPECT_EQ(request.field("host"), "a:1");
        EXPECT_EQ(request.field("upgrade"), "websocket");
        EXPECT_EQ(request.field("x-empty"), "");
        EXPECT_EQ(request.field("sec-websocket-key"), "k==");
        EXPECT_EQ(request.field("origin"), std::nullopt);
        EXPECT_EQ(reader.takeRest(), "\x81\x80");
    }
    // Bare line feeds end lines too.
    EXPECT_EQ(readInPieces("GET / HTTP/1.0\nA: b\n\n", 1).state(), State::Complete);
}

TEST(HttpRequestReader, RefusesMalformedHeadsWithTheirStatus)
{
    struct Case {
        std::string head;
        int status;
    };
    const Case cases[] = {
        { "GET /\r\n\r\n", 400 },
        { "GET  / HTTP/1.1\r\n\r\n", 400 },
        { "GET / HTTP/1.1 x\r\n\r\n", 400 },
        { "GET / http/1.1\r\n\r\n", 400 },
        { "GET / HTTP/2.0\r\n\r\n", 505 },
        { "G(T / HTTP/1.1\r\n\r\n", 400 },
        { "GET /a\x01 HTTP/1.1\r\n\r\n", 400 },
        { "GET / HTTP/1.1\r\nHost a\r\n\r\n", 400 },
        { "GET / HTTP/1.1\r\nHost : a\r\n\r\n", 400 },
        { "GET / HTTP/1.1\r\n: a\r\n\r\n", 400 },
        { "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", 400 },
        { std::string("GET / HTTP/1.1\r\nA: b\0c\r\n\r\n", 26), 400 },
        { "GET / HTTP/1.1\r\nA: b\x7f\r\n\r\n", 400 },
        { "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n", 400 },
    };
    for (const Case& c : cases) {
        HttpRequestReader reader = readInPieces(c.head, c.head.size());
        EXPECT_EQ(reader.state(), State::Failed) << c.head;
        EXPECT_EQ(reader.failure().code, c.status) << c.head;
    }
}

// A client may wait for the answer before it sends more: one whose request line is refused is
// told as soon as that line ends, not at the deadline. An HTTP/0.9 request is one line.
TEST(HttpRequestReader, ARequestLineIsJudgedWhenItEnds)
{
    struct Case {
        std::string line;
        State state;
        int status;
    };
    const Case cases[] = {
        { "GET /\r\n", State::Failed, 400 },
        { "\r\nGET /\n", State::Failed, 400 },
        { "GET / HTTP/2.0\r\n", State::Failed, 505 },
        { "GET / HTTP/1.1\r\n", State::Incomplete, 0 },
        { "GET /", State::Incomplete, 0 },
    };
    for (const Case& c : cases) {
        for (size_t piece : { size_t { 1 }, c.line.size() }) {
            HttpRequestReader reader = readInPieces(c.line, piece);
            EXPECT_EQ(reader.state(), c.state) << c.line;
            if (c.state == State::Failed) {
                EXPECT_EQ(reader.failure().code, c.status) << c.line;
            }
        }
    }
}

TEST(HttpRequestReader, TheHeadMayFillTheLimitAndNoMore)
{
    const std::string start = "GET / HTTP/1.1\r\nX: ";
    const std::string end = "\r\n\r\n";
    std::string exact = start + std::string(HttpRequestReader::kMaxHeadBytes - start.size() - end.size(), 'v') + end;
    EXPECT_EQ(readInPieces(exact, 1000).state(), State::Complete);

    std::string over = start + std::string(HttpRequestReader::kMaxHeadBytes - start.size() - end.size() + 1, 'v') + end;
    HttpRequestReader tooLong = readInPieces(over, 1000);
    EXPECT_EQ(tooLong.state(), State::Failed);
    EXPECT_EQ(tooLong.failure().code, 431);

    // A head that never ends fails as soon as it passes the limit, without waiting for more.
    HttpRequestReader endless;
    EXPECT_EQ(endless.feed(start + std::string(HttpRequestReader::kMaxHeadBytes, 'v')), State::Failed);
    EXPECT_EQ(endless.failure().code, 431);
    HttpRequestReader longLine;
    EXPECT_EQ(longLine.feed("GET /" + std::string(HttpRequestReader::kMaxHeadBytes, 'a')), State::Failed);
    EXPECT_EQ(longLine.failure().code, 414);
}

} // namespace
