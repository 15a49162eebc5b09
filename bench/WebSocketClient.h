// The load generator's WebSocket client (RFC 6455): what a browser on the room's web entrance
// does on the wire. The handshake, masked binary frames for what the client sends, and the
// payloads of the server's frames (binary: relayed bytes; text: the server's own texts) as the
// room's bytes the client received. No extension, no fragmentation of our own sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

struct WebSocketState {
    // Receiving: wire bytes of a frame header not complete yet, and the current frame.
    std::string headerBytes;
    uint64_t payloadLeft = 0;
    uint8_t opcode = 0;
    // Sending: the rest of the current frame's header, and of its payload.
    std::string headerOut;
    uint64_t frameSize = 0;
    uint64_t payloadOutLeft = 0;
};

// Upgrades a connected descriptor (blocking, bounded by its receive timeout). False when the
// server did not answer 101.
bool webSocketHandshake(int fd, const std::string& host, int port);

// As recv(): payload bytes of data frames, 0 when the server closed (or sent a close frame),
// -1 with errno EAGAIN when the bytes that came were only frame headers or control frames.
ssize_t webSocketRead(int fd, WebSocketState& state, char* buffer, size_t size);

// As send(): how many of `size` room bytes went out, as the payload of masked binary frames.
ssize_t webSocketWrite(int fd, WebSocketState& state, const char* data, size_t size);
