// The bytes waiting for clients, in their queues and in the round's gathering, against the
// caps: each client may have at most kClientCap waiting, and all of it together may take at
// most the total cap of memory. A message waiting in many queues is held once
// (SharedMessages.h) and counts once towards the total.
#pragma once

#include "net/SharedMessages.h"

#include <cstddef>
#include <string_view>

class DeliveryBudget {
public:
    // What one client may have waiting beyond the kernel's buffers: far above what a chat room
    // ever has in flight to one reader.
    static constexpr size_t kClientCap = 8 * 1024 * 1024;
    // What all clients together may have waiting: the memory of the messages, each counted once.
    static constexpr size_t kTotalCap = 256 * 1024 * 1024;
    // Set to a number of bytes, a smaller total cap, for tests that reach it; not for rooms.
    static constexpr const char* kTestTotalCapVariable = "CHATROOM_TEST_TOTAL_QUEUE_CAP";

    // The total cap is kTotalCap unless the test variable sets a smaller one.
    DeliveryBudget();
    DeliveryBudget(const DeliveryBudget&) = delete;
    DeliveryBudget& operator=(const DeliveryBudget&) = delete;

    // The caps count the whole message, as if the socket took none of it: what is accepted can
    // always be kept whole.
    bool clientAdmits(size_t waitingForClient, size_t message) const { return waitingForClient + message <= kClientCap; }
    // Whether the memory the message would take fits: none when it is the message held last.
    bool totalAdmits(std::string_view message) const
    {
        return waiting() + message.size() <= m_totalCap || m_messages.isLast(message);
    }

    // Where queued messages are kept.
    SharedMessages& messages() { return m_messages; }
    // The round's gathered bytes (kept once in the round's buffer).
    void addGathered(size_t bytes) { m_gathered += bytes; }
    void removeGathered(size_t bytes) { m_gathered -= bytes; }
    // The memory all waiting bytes take.
    size_t waiting() const { return m_messages.heldBytes() + m_gathered; }

private:
    size_t m_totalCap;
    size_t m_gathered = 0;
    SharedMessages m_messages;
};
