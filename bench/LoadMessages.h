// The load's messages on the wire, and cutting a receiver's byte stream back into them.
//
// The relays forward whatever one read gave them, so the wire carries no message boundaries.
// Every message is B bytes that start with a magic, the sender, a sequence number, the phase
// and the send time; a receiver cuts its byte stream into B-byte messages and resynchronises
// on the magic should a chunk ever end inside a message, or other bytes come in between (a
// flood, our relay's own texts). Of those other bytes it counts the flood's (see floodPattern).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// The magic ends in a NUL byte: our relay takes a message's text only up to the first NUL, so
// no payload can ever look like a robot command to it.
constexpr char kMagic[4] = { 'L', 'D', 'M', '\0' };
constexpr size_t kHeaderSize = 24; // magic, sender, sequence, phase, send time in ns
// Marks the senders of the warm-up's probes.
constexpr uint32_t kProbeFlag = 0x80000000u;
// What fills a message after its header: no letter and no blank, so never counted as flood.
constexpr char kFiller = '#';

enum PhaseId : uint32_t { kFanout = 1, kLoad = 2, kRate = 3, kEvents = 4 };

struct MessageHeader {
    uint32_t sender = 0;
    uint32_t seq = 0;
    uint32_t phase = 0;
    uint64_t sentAt = 0;
};

std::string makeMessage(size_t bytes, const MessageHeader& header);
const char* phaseName(uint32_t phase);

// One receiver's cutter; `bytes` is the size of every message.
class MessageCutter {
public:
    // Hands each whole message's header to onMessage, in order; keeps the start of a message
    // whose rest has not arrived yet.
    template<typename OnMessage>
    void feed(size_t bytes, const char* data, size_t size, OnMessage&& onMessage)
    {
        if (m_tail.empty()) {
            size_t used = cut(bytes, data, size, onMessage);
            m_tail.assign(data + used, size - used);
            return;
        }
        m_tail.append(data, size);
        size_t used = cut(bytes, m_tail.data(), m_tail.size(), onMessage);
        m_tail.erase(0, used);
    }

    void reset()
    {
        m_tail.clear();
        m_floodBytes = 0;
    }

    uint64_t resyncs() const { return m_resyncs; }
    uint64_t floodBytes() const { return m_floodBytes; }

private:
    // Handles the whole messages at the start of the bytes; returns how many bytes it used.
    template<typename OnMessage>
    size_t cut(size_t bytes, const char* data, size_t size, OnMessage& onMessage)
    {
        size_t at = 0;
        while (size - at >= sizeof kMagic) {
            if (std::memcmp(data + at, kMagic, sizeof kMagic) != 0) {
                ++m_resyncs;
                const void* next = memmem(data + at + 1, size - at - 1, kMagic, sizeof kMagic);
                // Without a magic in sight, one may still start in the last bytes.
                size_t skipTo = next ? static_cast<size_t>(static_cast<const char*>(next) - data) : size - magicStartAtEnd(data + at, size - at);
                countFlood(data + at, skipTo - at);
                at = skipTo;
                if (!next)
                    return at;
                continue;
            }
            if (size - at < bytes)
                break;
            MessageHeader header;
            std::memcpy(&header.sender, data + at + 4, 4);
            std::memcpy(&header.seq, data + at + 8, 4);
            std::memcpy(&header.phase, data + at + 12, 4);
            std::memcpy(&header.sentAt, data + at + 16, 8);
            onMessage(header);
            at += bytes;
        }
        return at;
    }

    void countFlood(const char* data, size_t size);
    // How many of the last bytes could be the start of a magic (fewer than the whole magic).
    static size_t magicStartAtEnd(const char* data, size_t size)
    {
        for (size_t length = std::min(size, sizeof kMagic - 1); length > 0; --length) {
            if (std::memcmp(data + size - length, kMagic, length) == 0)
                return length;
        }
        return 0;
    }

    std::string m_tail;
    uint64_t m_resyncs = 0;
    uint64_t m_floodBytes = 0;
};
