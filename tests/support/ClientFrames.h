// WebSocket frames as a client writes them (masked), for the suites that play a browser or
// a misbehaving one, and the reading of the server's frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

struct ClientFrame {
    uint8_t opcode = 0x1;
    std::string payload;
    bool final = true;
    bool masked = true;
    uint8_t reservedBits = 0; // 0x70 at most
};

inline std::string encodeClientFrame(const ClientFrame& frame)
{
    constexpr char kMask[4] = { 0x12, 0x34, 0x56, 0x78 };
    std::string out;
    out += static_cast<char>((frame.final ? 0x80 : 0) | frame.reservedBits | frame.opcode);
    char maskBit = frame.masked ? static_cast<char>(0x80) : 0;
    size_t length = frame.payload.size();
    if (length <= 125) {
        out += static_cast<char>(maskBit | static_cast<char>(length));
    } else if (length <= 0xFFFF) {
        out += static_cast<char>(maskBit | 126);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(length & 0xFF);
    } else {
        out += static_cast<char>(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += static_cast<char>((static_cast<uint64_t>(length) >> shift) & 0xFF);
    }
    if (frame.masked)
        out.append(kMask, sizeof kMask);
    for (size_t i = 0; i < length; ++i)
        out += frame.masked ? static_cast<char>(frame.payload[i] ^ kMask[i % 4]) : frame.payload[i];
    return out;
}

inline std::string textFrame(std::string_view text) { return encodeClientFrame({ 0x1, std::string(text) }); }
inline std::string binaryFrame(std::string_view bytes) { return encodeClientFrame({ 0x2, std::string(bytes) }); }

// One unmasked server frame read from the front of `bytes`; nothing while it is not whole.
struct ServerFrame {
    uint8_t opcode = 0;
    bool final = true;
    std::string payload;
    size_t size = 0; // bytes the frame took
    // A close frame's status code.
    uint16_t closeCode() const
    {
        return payload.size() < 2 ? 0 : static_cast<uint16_t>(static_cast<uint8_t>(payload[0]) << 8 | static_cast<uint8_t>(payload[1]));
    }
};

inline std::optional<ServerFrame> readServerFrame(std::string_view bytes)
{
    if (bytes.size() < 2)
        return std::nullopt;
    ServerFrame frame;
    frame.final = (bytes[0] & 0x80) != 0;
    frame.opcode = bytes[0] & 0x0F;
    size_t length = static_cast<uint8_t>(bytes[1]) & 0x7F;
    size_t header = 2;
    if (length >= 126) {
        size_t extra = length == 126 ? 2 : 8;
        if (bytes.size() < 2 + extra)
            return std::nullopt;
        length = 0;
        for (size_t i = 0; i < extra; ++i)
            length = length << 8 | static_cast<uint8_t>(bytes[2 + i]);
        header += extra;
    }
    if (bytes.size() < header + length)
        return std::nullopt;
    frame.payload = std::string(bytes.substr(header, length));
    frame.size = header + length;
    return frame;
}

} // namespace test_support
