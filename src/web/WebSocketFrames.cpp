// Frame decoding and encoding (see WebSocketFrames.h).
#include "web/WebSocketFrames.h"

#include "web/Utf8.h"

#include <utility>

namespace websocket {

namespace {

constexpr uint8_t kFinalBit = 0x80;
constexpr uint8_t kReservedBits = 0x70;
constexpr uint8_t kOpcodeBits = 0x0F;
constexpr uint8_t kMaskBit = 0x80;
constexpr uint8_t kLengthBits = 0x7F;
constexpr uint8_t kControlBit = 0x08;
// Length codes in the second byte: the length follows in 2 or 8 bytes.
constexpr uint8_t kLength16 = 126;
constexpr uint8_t kLength64 = 127;
constexpr size_t kShortLengthMax = 125;
constexpr size_t kMaskBytes = 4;
constexpr size_t kCloseCodeBytes = 2;

// Close codes a peer may send (RFC 6455, section 7.4, and the IANA registry): the defined
// ones that are not reserved for local use, and the ranges for libraries and applications.
bool isValidReceivedCloseCode(uint16_t code)
{
    if (code >= 1000 && code <= 1003)
        return true;
    if (code >= 1007 && code <= 1014)
        return true;
    return code >= 3000 && code <= 4999;
}

bool isKnownOpcode(uint8_t opcode)
{
    switch (static_cast<Opcode>(opcode)) {
    case Opcode::Continuation:
    case Opcode::Text:
    case Opcode::Binary:
    case Opcode::Close:
    case Opcode::Ping:
    case Opcode::Pong:
        return true;
    }
    return false;
}

// The close frame's payload: a status code (and an optional reason, which must be UTF-8).
uint16_t checkClosePayload(std::string_view payload)
{
    if (payload.empty())
        return close_code::kNone;
    if (payload.size() < kCloseCodeBytes || !isValidReceivedCloseCode(closeCodeOf(payload)))
        return close_code::kProtocolError;
    if (!isValidUtf8(payload.substr(kCloseCodeBytes)))
        return close_code::kInvalidData;
    return close_code::kNone;
}

} // namespace

void appendFrame(std::string& out, Opcode opcode, std::string_view payload)
{
    out += static_cast<char>(kFinalBit | static_cast<uint8_t>(opcode));
    size_t length = payload.size();
    if (length <= kShortLengthMax) {
        out += static_cast<char>(length);
    } else if (length <= UINT16_MAX) {
        out += static_cast<char>(kLength16);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(length & 0xFF);
    } else {
        out += static_cast<char>(kLength64);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += static_cast<char>((static_cast<uint64_t>(length) >> shift) & 0xFF);
    }
    out.append(payload);
}

std::string closeFrame(uint16_t code, std::string_view reason)
{
    std::string payload { static_cast<char>(code >> 8), static_cast<char>(code & 0xFF) };
    payload += reason.substr(0, FrameDecoder::kMaxControlPayload - kCloseCodeBytes);
    std::string frame;
    appendFrame(frame, Opcode::Close, payload);
    return frame;
}

uint16_t closeCodeOf(std::string_view payload)
{
    if (payload.size() < kCloseCodeBytes)
        return close_code::kNone;
    return static_cast<uint16_t>(static_cast<uint8_t>(payload[0]) << 8 | static_cast<uint8_t>(payload[1]));
}

uint16_t FrameDecoder::decode(std::string_view bytes, std::vector<Message>& out)
{
    if (m_failure != close_code::kNone)
        return m_failure;
    // The usual case: no cut-off frame waits, so the new bytes are read where they are.
    std::string_view rest = bytes;
    if (!m_buffer.empty()) {
        m_buffer.append(bytes);
        rest = m_buffer;
    }
    for (;;) {
        bool whole = false;
        if (uint16_t code = decodeFrame(rest, out, whole); code != close_code::kNone)
            return fail(code);
        if (!whole)
            break;
    }
    // What is left is the start of a frame. An idle connection keeps no buffer at all.
    if (rest.empty())
        std::string().swap(m_buffer);
    else if (m_buffer.empty())
        m_buffer.assign(rest);
    else
        m_buffer.erase(0, m_buffer.size() - rest.size());
    return close_code::kNone;
}

// Decodes the frame at the front of `rest` if it is whole (then `whole` is set and `rest`
// moves past it). A header is checked as soon as it is there, so that a frame that breaks a
// rule or a limit fails before its payload has arrived.
uint16_t FrameDecoder::decodeFrame(std::string_view& rest, std::vector<Message>& out, bool& whole)
{
    if (rest.size() < 2)
        return close_code::kNone;
    auto first = static_cast<uint8_t>(rest[0]);
    auto second = static_cast<uint8_t>(rest[1]);
    bool final = (first & kFinalBit) != 0;
    uint8_t opcodeBits = first & kOpcodeBits;
    bool control = (opcodeBits & kControlBit) != 0;
    // No extension is agreed, so the reserved bits must be clear; every client frame is masked.
    if ((first & kReservedBits) != 0 || !isKnownOpcode(opcodeBits) || (second & kMaskBit) == 0)
        return close_code::kProtocolError;
    auto opcode = static_cast<Opcode>(opcodeBits);
    uint8_t lengthCode = second & kLengthBits;
    if (control && (!final || lengthCode > kShortLengthMax))
        return close_code::kProtocolError;
    if (!control && (opcode == Opcode::Continuation) != m_inMessage)
        return close_code::kProtocolError;

    size_t headerBytes = 2 + (lengthCode == kLength16 ? 2 : lengthCode == kLength64 ? 8 : 0);
    if (rest.size() < headerBytes)
        return close_code::kNone;
    uint64_t length = lengthCode;
    if (lengthCode >= kLength16) {
        length = 0;
        for (size_t i = 2; i < headerBytes; ++i)
            length = length << 8 | static_cast<uint8_t>(rest[i]);
    }
    if (length >> 63 != 0)
        return close_code::kProtocolError;
    if (!control) {
        if (length > kMaxMessageBytes - m_message.size())
            return close_code::kTooBig;
        if (m_fragments + 1 > kMaxFragments)
            return close_code::kTooBig;
    }
    size_t frameBytes = headerBytes + kMaskBytes + static_cast<size_t>(length);
    if (rest.size() < frameBytes)
        return close_code::kNone;

    std::string_view mask = rest.substr(headerBytes, kMaskBytes);
    std::string_view masked = rest.substr(headerBytes + kMaskBytes, static_cast<size_t>(length));
    std::string payload(masked);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(payload[i] ^ mask[i % kMaskBytes]);
    rest.remove_prefix(frameBytes);
    whole = true;

    if (control) {
        if (opcode == Opcode::Close) {
            if (uint16_t code = checkClosePayload(payload); code != close_code::kNone)
                return code;
        }
        out.push_back({ opcode, std::move(payload) });
        return close_code::kNone;
    }
    if (!m_inMessage) {
        m_inMessage = true;
        m_messageOpcode = opcode;
        m_message = std::move(payload);
    } else {
        m_message.append(payload);
    }
    ++m_fragments;
    if (!final)
        return close_code::kNone;
    if (m_messageOpcode == Opcode::Text && !isValidUtf8(m_message))
        return close_code::kInvalidData;
    out.push_back({ m_messageOpcode, std::exchange(m_message, {}) });
    m_inMessage = false;
    m_fragments = 0;
    return close_code::kNone;
}

} // namespace websocket
