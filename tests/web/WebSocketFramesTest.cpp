// The frame codec: what a client's frames decode to, wherever the reads cut them, and which
// close code each broken or oversized frame earns.
#include "web/WebSocketFrames.h"

#include "support/ClientFrames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace websocket;
using test_support::ClientFrame;
using test_support::encodeClientFrame;

struct Decoded {
    uint16_t failure = close_code::kNone;
    std::vector<Message> messages;
};

// Decodes `bytes` handed over `piece` bytes at a time.
Decoded decodeInPieces(const std::string& bytes, size_t piece)
{
    FrameDecoder decoder;
    Decoded result;
    for (size_t i = 0; i < bytes.size() && result.failure == close_code::kNone; i += piece)
        result.failure = decoder.decode(std::string_view(bytes).substr(i, piece), result.messages);
    return result;
}

std::string closePayload(uint16_t code, std::string_view reason = {})
{
    std::string payload { static_cast<char>(code >> 8), static_cast<char>(code & 0xFF) };
    return payload + std::string(reason);
}

TEST(FrameDecoder, TheRfcExamplesDecodeWhereverTheReadsCutThem)
{
    // RFC 6455, section 5.7: a masked "Hello", then the same in two fragments and a ping.
    const std::string hello = "\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58";
    std::string fragmented = encodeClientFrame({ 0x1, "Hel", false }) + encodeClientFrame({ 0x9, "p" })
        + encodeClientFrame({ 0x0, "lo", true });
    const std::string stream = hello + fragmented + encodeClientFrame({ 0x2, std::string("\0\xff", 2) })
        + encodeClientFrame({ 0x2, std::string(FrameDecoder::kMaxMessageBytes, 'b') }) + encodeClientFrame({ 0x1, "" });
    for (size_t piece : { size_t { 1 }, size_t { 3 }, size_t { 7 }, stream.size() }) {
        Decoded got = decodeInPieces(stream, piece);
        ASSERT_EQ(got.failure, close_code::kNone) << "pieces of " << piece;
        ASSERT_EQ(got.messages.size(), 6u);
        EXPECT_EQ(got.messages[0].opcode, Opcode::Text);
        EXPECT_EQ(got.messages[0].payload, "Hello");
        // A control frame may come between fragments and is delivered at once.
        EXPECT_EQ(got.messages[1].opcode, Opcode::Ping);
        EXPECT_EQ(got.messages[2].payload, "Hello");
        EXPECT_EQ(got.messages[3].payload, std::string("\0\xff", 2));
        EXPECT_EQ(got.messages[4].payload.size(), FrameDecoder::kMaxMessageBytes);
        EXPECT_EQ(got.messages[5].payload, "");
    }
}

TEST(FrameDecoder, BrokenFramesEndWithTheirCloseCode)
{
    struct Case {
        const char* what;
        std::string bytes;
        uint16_t code;
    };
    const std::string tooMany = [] {
        std::string bytes = encodeClientFrame({ 0x1, "a", false });
        for (size_t i = 1; i < FrameDecoder::kMaxFragments; ++i)
            bytes += encodeClientFrame({ 0x0, "a", false });
        return bytes + encodeClientFrame({ 0x0, "a", true });
    }();
    const Case cases[] = {
        { "unmasked", encodeClientFrame({ 0x1, "hi", true, false }), close_code::kProtocolError },
        { "reserved bit 1", encodeClientFrame({ 0x1, "hi", true, true, 0x40 }), close_code::kProtocolError },
        { "reserved bit 3", encodeClientFrame({ 0x2, "hi", true, true, 0x10 }), close_code::kProtocolError },
        { "opcode 3", encodeClientFrame({ 0x3, "hi" }), close_code::kProtocolError },
        { "opcode 11", encodeClientFrame({ 0xB, "" }), close_code::kProtocolError },
        { "long ping", encodeClientFrame({ 0x9, std::string(126, 'p') }), close_code::kProtocolError },
        { "fragmented ping", encodeClientFrame({ 0x9, "p", false }), close_code::kProtocolError },
        { "continuation first", encodeClientFrame({ 0x0, "a" }), close_code::kProtocolError },
        { "new message inside one", encodeClientFrame({ 0x1, "a", false }) + encodeClientFrame({ 0x1, "b" }), close_code::kProtocolError },
        { "close of one byte", encodeClientFrame({ 0x8, "\x03" }), close_code::kProtocolError },
        { "close code 1005", encodeClientFrame({ 0x8, closePayload(1005) }), close_code::kProtocolError },
        { "close code 999", encodeClientFrame({ 0x8, closePayload(999) }), close_code::kProtocolError },
        { "close reason not UTF-8", encodeClientFrame({ 0x8, closePayload(1000, "\xff") }), close_code::kInvalidData },
        { "text not UTF-8", encodeClientFrame({ 0x1, "a\xc0\xaf" }), close_code::kInvalidData },
        { "text cut inside a character", encodeClientFrame({ 0x1, "\xe4\xb8" }), close_code::kInvalidData },
        { "surrogate", encodeClientFrame({ 0x1, "\xed\xa0\x80" }), close_code::kInvalidData },
        { "fragments not UTF-8 when joined", encodeClientFrame({ 0x1, "\xe4", false }) + encodeClientFrame({ 0x0, "\xb8" }), close_code::kInvalidData },
        { "message over the limit", encodeClientFrame({ 0x2, std::string(FrameDecoder::kMaxMessageBytes + 1, 'x') }), close_code::kTooBig },
        { "fragments over the limit", encodeClientFrame({ 0x2, std::string(FrameDecoder::kMaxMessageBytes, 'x'), false }) + encodeClientFrame({ 0x0, "x" }), close_code::kTooBig },
        { "too many fragments", tooMany, close_code::kTooBig },
        { "64-bit length with the top bit", std::string("\x82\xff\x80\0\0\0\0\0\0\0", 10), close_code::kProtocolError },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeInPieces(c.bytes, c.bytes.size()).failure, c.code) << c.what;
        EXPECT_EQ(decodeInPieces(c.bytes, 1).failure, c.code) << c.what << ", byte by byte";
    }
}

TEST(FrameDecoder, AnOversizedFrameFailsOnItsHeaderAlone)
{
    FrameDecoder decoder;
    std::vector<Message> messages;
    // Eight bytes of length saying 4 GiB, and no payload yet.
    EXPECT_EQ(decoder.decode(std::string("\x82\xff\0\0\0\1\0\0\0\0", 10), messages), close_code::kTooBig);
    // Once failed, it stays failed.
    EXPECT_EQ(decoder.decode(test_support::textFrame("hi"), messages), close_code::kTooBig);
    EXPECT_TRUE(messages.empty());
}

TEST(FrameEncoder, ServerFramesAreUnmaskedWithTheShortestLength)
{
    for (size_t length : { size_t { 0 }, size_t { 125 }, size_t { 126 }, size_t { 65535 }, size_t { 65536 } }) {
        std::string frame;
        appendFrame(frame, Opcode::Binary, std::string(length, 'z'));
        auto read = test_support::readServerFrame(frame);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->size, frame.size());
        EXPECT_EQ(read->payload.size(), length);
        EXPECT_EQ(read->opcode, 0x2);
        EXPECT_EQ(static_cast<uint8_t>(frame[1]) & 0x80, 0);
        size_t header = length <= 125 ? 2 : length <= 65535 ? 4 : 10;
        EXPECT_EQ(frame.size(), header + length);
    }
    EXPECT_EQ(closeFrame(1009), std::string("\x88\x02\x03\xf1", 4));
    EXPECT_EQ(closeFrame(1013, std::string(200, 'r')), "\x88\x7d\x03\xf5" + std::string(123, 'r'));
    EXPECT_EQ(closeCodeOf(std::string("\x03\xe8", 2)), 1000);
    EXPECT_EQ(closeCodeOf(""), close_code::kNone);
}

} // namespace
