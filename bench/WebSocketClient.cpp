// The load generator's WebSocket client (see WebSocketClient.h).
#include "WebSocketClient.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <vector>

namespace {

// Any fixed valid key will do: the server only hashes it into its answer.
constexpr const char* kKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr size_t kMaxAnswer = 4096;
constexpr std::array<uint8_t, 4> kMask = { 0x37, 0xfa, 0x21, 0x3d };
constexpr uint8_t kFin = 0x80;
constexpr uint8_t kMaskBit = 0x80;
constexpr uint8_t kOpcodeBits = 0x0f;
constexpr uint8_t kLengthBits = 0x7f;
constexpr uint8_t kOpcodeText = 0x1;
constexpr uint8_t kOpcodeBinary = 0x2;
constexpr uint8_t kOpcodeClose = 0x8;
constexpr uint8_t kLength16 = 126;
constexpr uint8_t kLength64 = 127;
constexpr uint64_t kMaxShortLength = 125;
constexpr uint64_t kMax16 = 0xffff;
constexpr size_t kMaxRead = 64 * 1024;

bool sendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Header length of a server frame (unmasked) whose first two bytes are given.
size_t headerLength(uint8_t second)
{
    uint8_t length = second & kLengthBits;
    size_t masked = (second & kMaskBit) ? 4 : 0;
    return 2 + masked + (length == kLength16 ? 2 : length == kLength64 ? 8 : 0);
}

uint64_t payloadLength(const std::string& header)
{
    uint8_t length = static_cast<uint8_t>(header[1]) & kLengthBits;
    size_t bytes = length == kLength16 ? 2 : length == kLength64 ? 8 : 0;
    if (bytes == 0)
        return length;
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<uint8_t>(header[2 + i]);
    return value;
}

} // namespace

bool webSocketHandshake(int fd, const std::string& host, int port)
{
    std::string request = "GET /ws HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + kKey
        + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!sendAll(fd, request))
        return false;
    // Byte by byte, so that nothing after the answer's end is taken from the socket.
    std::string answer;
    while (answer.size() < kMaxAnswer && (answer.size() < 4 || answer.compare(answer.size() - 4, 4, "\r\n\r\n") != 0)) {
        char byte;
        ssize_t n = recv(fd, &byte, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        answer += byte;
    }
    if (answer.rfind("HTTP/1.1 101", 0) != 0) {
        std::fprintf(stderr, "chatroom-load: the web entrance answered: %.60s\n", answer.c_str());
        return false;
    }
    return true;
}

ssize_t webSocketRead(int fd, WebSocketState& state, char* buffer, size_t size)
{
    // At most `size` wire bytes, so that their payload fits: what stays behind is only an
    // incomplete header, never payload that waits for a readiness that will not come.
    std::vector<char> wire(std::min(size, kMaxRead));
    ssize_t n = recv(fd, wire.data(), wire.size(), 0);
    if (n <= 0)
        return n;
    size_t at = 0, out = 0, end = static_cast<size_t>(n);
    while (at < end) {
        if (state.payloadLeft > 0) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(state.payloadLeft, end - at));
            if (state.opcode == kOpcodeBinary || state.opcode == kOpcodeText || state.opcode == 0) {
                std::memcpy(buffer + out, wire.data() + at, take);
                out += take;
            }
            state.payloadLeft -= take;
            at += take;
            continue;
        }
        state.headerBytes += wire[at++];
        if (state.headerBytes.size() < 2 || state.headerBytes.size() < headerLength(static_cast<uint8_t>(state.headerBytes[1])))
            continue;
        state.opcode = static_cast<uint8_t>(state.headerBytes[0]) & kOpcodeBits;
        state.payloadLeft = payloadLength(state.headerBytes);
        state.headerBytes.clear();
        if (state.opcode == kOpcodeClose)
            return 0;
    }
    if (out == 0) {
        errno = EAGAIN;
        return -1;
    }
    return static_cast<ssize_t>(out);
}

ssize_t webSocketWrite(int fd, WebSocketState& state, const char* data, size_t size)
{
    if (state.headerOut.empty() && state.payloadOutLeft == 0) {
        state.frameSize = size;
        state.payloadOutLeft = size;
        state.headerOut += static_cast<char>(kFin | kOpcodeBinary);
        if (size <= kMaxShortLength) {
            state.headerOut += static_cast<char>(kMaskBit | size);
        } else if (size <= kMax16) {
            state.headerOut += static_cast<char>(kMaskBit | kLength16);
            state.headerOut += static_cast<char>(size >> 8);
            state.headerOut += static_cast<char>(size & 0xff);
        } else {
            state.headerOut += static_cast<char>(kMaskBit | kLength64);
            for (int shift = 56; shift >= 0; shift -= 8)
                state.headerOut += static_cast<char>((static_cast<uint64_t>(size) >> shift) & 0xff);
        }
        for (uint8_t byte : kMask)
            state.headerOut += static_cast<char>(byte);
    }
    while (!state.headerOut.empty()) {
        ssize_t n = send(fd, state.headerOut.data(), state.headerOut.size(), MSG_NOSIGNAL);
        if (n < 0)
            return n;
        state.headerOut.erase(0, static_cast<size_t>(n));
    }
    size_t take = static_cast<size_t>(std::min<uint64_t>(state.payloadOutLeft, size));
    uint64_t offset = state.frameSize - state.payloadOutLeft;
    std::vector<char> masked(data, data + take);
    for (size_t i = 0; i < take; ++i)
        masked[i] = static_cast<char>(masked[i] ^ kMask[(offset + i) % kMask.size()]);
    ssize_t n = send(fd, masked.data(), take, MSG_NOSIGNAL);
    if (n > 0)
        state.payloadOutLeft -= static_cast<uint64_t>(n);
    return n;
}
