// The load's messages on the wire (see LoadMessages.h).
#include "LoadMessages.h"

#include "LoadSupport.h"

std::string makeMessage(size_t bytes, const MessageHeader& header)
{
    std::string message(bytes, kFiller);
    std::memcpy(message.data(), kMagic, sizeof kMagic);
    std::memcpy(message.data() + 4, &header.sender, 4);
    std::memcpy(message.data() + 8, &header.seq, 4);
    std::memcpy(message.data() + 12, &header.phase, 4);
    std::memcpy(message.data() + 16, &header.sentAt, 8);
    return message;
}

const char* phaseName(uint32_t phase)
{
    switch (phase) {
    case kFanout: return "fanout";
    case kLoad: return "load";
    case kRate: return "rate";
    case kEvents: return "events";
    }
    return "?";
}

void MessageCutter::countFlood(const char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        m_floodBytes += isFloodByte(data[i]) ? 1 : 0;
}
