// The WebSocket frame format (RFC 6455, section 5) on the server's side: client frames are
// decoded, checked and unmasked, whole messages come out; server frames go out unmasked and
// unfragmented.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace websocket {

enum class Opcode : uint8_t {
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA,
};

// The close codes this server sends (RFC 6455, section 7.4.1).
namespace close_code {
inline constexpr uint16_t kNone = 0; // no failure: not a code on the wire
inline constexpr uint16_t kNormal = 1000;
inline constexpr uint16_t kGoingAway = 1001;
inline constexpr uint16_t kProtocolError = 1002;
inline constexpr uint16_t kUnsupportedData = 1003;
inline constexpr uint16_t kInvalidData = 1007;
inline constexpr uint16_t kPolicyViolation = 1008;
inline constexpr uint16_t kTooBig = 1009;
// Registered for RFC 6455's close codes (IANA): the server cannot take the client now, and
// it may connect again at once.
inline constexpr uint16_t kTryAgainLater = 1013;
} // namespace close_code

// One whole message: a data message with its fragments joined, or one control frame.
struct Message {
    Opcode opcode;
    std::string payload;
};

// Appends one final, unmasked frame.
void appendFrame(std::string& out, Opcode opcode, std::string_view payload);
// A close frame with its status code and a short reason (ASCII, cut to what a control frame
// holds).
std::string closeFrame(uint16_t code, std::string_view reason = {});
// The status code of a close frame's payload; kNone when it carries none.
uint16_t closeCodeOf(std::string_view payload);

class FrameDecoder {
public:
    // What one message from a browser may hold: far more than anybody types, small enough
    // that a thousand browsers halfway through one cost little.
    static constexpr size_t kMaxMessageBytes = 64 * 1024;
    // Frames one data message may be cut into.
    static constexpr size_t kMaxFragments = 64;
    // Control frames carry at most this much and are never fragmented.
    static constexpr size_t kMaxControlPayload = 125;

    // Decodes every whole frame of the bytes so far and appends the complete messages to
    // `out`, in order. Returns kNone, or the close code the connection must end with: 1002 for
    // a frame that breaks the protocol, 1007 for text that is not UTF-8, 1009 for a message
    // over the limit. After a failure nothing more is decoded.
    uint16_t decode(std::string_view bytes, std::vector<Message>& out);

private:
    uint16_t decodeFrame(std::string_view& rest, std::vector<Message>& out, bool& whole);
    uint16_t fail(uint16_t code)
    {
        m_failure = code;
        return code;
    }

    std::string m_buffer;
    // The data message being assembled from fragments.
    bool m_inMessage = false;
    Opcode m_messageOpcode = Opcode::Binary;
    std::string m_message;
    size_t m_fragments = 0;
    uint16_t m_failure = close_code::kNone;
};

} // namespace websocket
