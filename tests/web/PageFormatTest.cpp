// The page's format of version 2: each kind of frame the server writes, as the page reads it,
// the page's frames read or refused with their close code, the resume query, and the
// subprotocol's answer in the handshake.
#include "web/HttpAnswers.h"
#include "web/PageFormat.h"
#include "web/WebSocketFrames.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>

using nlohmann::json;

namespace {

// "好" in code page 936 and in UTF-8.
const std::string kGood936 = "\xBA\xC3";
const std::string kGoodUtf8 = "\xE5\xA5\xBD";
const std::string kNewLineGood936 = "\r\n" + kGood936;

TEST(PageFormat, EachKindOfMessageIsFramedForThePage)
{
    struct Case {
        const char* name;
        OutgoingMessage message;
        json expected;
    };
    const Case cases[] = {
        { "a relay of another member", { .bytes = kGood936, .kind = MessageKind::Relayed, .seq = 7, .sender = "1.2.3.4:5" },
            { { "type", "message" }, { "seq", 7 }, { "kind", "relay" }, { "own", false }, { "sender", "1.2.3.4:5" }, { "data", "usM=" } } },
        { "an own relay with its original, replayed",
            { .bytes = kGood936, .kind = MessageKind::Relayed, .seq = 8, .sender = "a", .originalText = kGoodUtf8, .own = true, .replayed = true },
            { { "type", "message" }, { "seq", 8 }, { "kind", "relay" }, { "own", true }, { "sender", "a" }, { "data", "usM=" }, { "text", kGoodUtf8 }, { "history", true } } },
        { "a room-wide text", { .bytes = kNewLineGood936, .kind = MessageKind::ServerText, .seq = 9 },
            { { "type", "message" }, { "seq", 9 }, { "kind", "server" }, { "text", "\r\n" + kGoodUtf8 } } },
        { "a text to one member", { .bytes = kGood936, .kind = MessageKind::ServerText }, { { "type", "notice" }, { "text", kGoodUtf8 } } },
        { "a parting text", { .bytes = kGood936, .kind = MessageKind::PartingText }, { { "type", "notice" }, { "text", kGoodUtf8 } } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(json::parse(page_format::message(c.message)), c.expected) << c.name;
}

TEST(PageFormat, TheRoomsOwnFramesSayWhatTheContractSays)
{
    EXPECT_EQ(json::parse(page_format::welcome({ .session = "s", .address = "1.2.3.4:5", .resumed = true, .missed = 3 })),
        json({ { "type", "welcome" }, { "session", "s" }, { "address", "1.2.3.4:5" }, { "resumed", true }, { "missed", 3 } }));
    EXPECT_EQ(json::parse(page_format::live()), json({ { "type", "live" } }));
    EXPECT_EQ(json::parse(page_format::ping()), json({ { "type", "ping" } }));
    std::array<MemberEntry, 2> members { MemberEntry { "a:1", kGoodUtf8, true }, MemberEntry { "b:2", std::nullopt, false } };
    std::string frame = page_format::members("b:2", page_format::memberList(members));
    EXPECT_EQ(json::parse(frame),
        json::parse(R"({"type":"members","self":"b:2","members":[{"address":"a:1","name":")" + kGoodUtf8
            + R"(","web":true},{"address":"b:2","name":null,"web":false}]})"));
    // Put together from the list encoded once, byte for byte as the library writes the object.
    EXPECT_EQ(frame, json::parse(frame).dump());
}

TEST(PageFormat, ThePagesFramesAreReadOrRefusedWithTheirCode)
{
    using Type = page_format::PageFrame::Type;
    struct Case {
        std::string frame;
        Type type;
        std::string text;
        uint16_t closeCode;
    };
    const Case cases[] = {
        { R"({"type":"send","text":"hi"})", Type::Send, "hi", 0 },
        { R"({"type":"name","name":")" + kGoodUtf8 + R"("})", Type::Name, kGoodUtf8, 0 },
        { R"({"type":"pong"})", Type::Pong, "", 0 },
        { "not json", Type::Invalid, "", websocket::close_code::kInvalidData },
        { R"({"type":"send"})", Type::Invalid, "", websocket::close_code::kUnsupportedData },
        { R"({"type":"send","text":5})", Type::Invalid, "", websocket::close_code::kUnsupportedData },
        { R"({"type":"dance"})", Type::Invalid, "", websocket::close_code::kUnsupportedData },
        { R"(["send"])", Type::Invalid, "", websocket::close_code::kUnsupportedData },
    };
    for (const Case& c : cases) {
        page_format::PageFrame frame = page_format::read(c.frame);
        EXPECT_EQ(frame.type, c.type) << c.frame;
        EXPECT_EQ(frame.text, c.text) << c.frame;
        if (c.type == Type::Invalid) {
            EXPECT_EQ(frame.closeCode, c.closeCode) << c.frame;
        }
    }
}

TEST(PageFormat, TheResumeQueryIsRead)
{
    auto query = page_format::readResumeQuery("/ws?session=abc&after=12");
    EXPECT_EQ(query.session, "abc");
    EXPECT_EQ(query.after, 12u);
    query = page_format::readResumeQuery("/ws?after=x&other=1&session=");
    EXPECT_FALSE(query.session);
    EXPECT_FALSE(query.after);
    EXPECT_FALSE(page_format::readResumeQuery("/ws").session);
}

TEST(PageFormat, TheHandshakeNamesTheProtocolOnlyWhenAskedFor)
{
    std::string head = "GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
    for (auto [protocols, chosen] : { std::pair { "", false }, std::pair { "other", false }, std::pair { "other, chatroom.v2", true } }) {
        std::string request = head + (*protocols ? "Sec-WebSocket-Protocol: " + std::string(protocols) + "\r\n" : "") + "\r\n";
        HttpRequestReader reader;
        ASSERT_EQ(reader.feed(request), HttpRequestReader::State::Complete);
        HttpAnswer answer = answerRequest(reader.request(), WebSite { WebPage {}, RoomHosts("h", {}), {} });
        EXPECT_EQ(answer.pageFormat, chosen) << protocols;
        EXPECT_EQ(answer.bytes.find("Sec-WebSocket-Protocol: chatroom.v2\r\n") != std::string::npos, chosen) << protocols;
    }
}

} // namespace
