// One client's outgoing messages that its socket has not taken yet, in order. Messages go in
// whole and come out as the socket takes them, so the client never receives a cut message
// followed by another; the server component decides what may go in (its caps). The messages
// are shared with the other queues that hold them (SharedMessages.h).
#pragma once

#include "net/SharedMessages.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

class DeliveryQueue {
public:
    DeliveryQueue() = default;
    // A queue handed over leaves an empty one behind.
    DeliveryQueue(DeliveryQueue&& other) noexcept;
    DeliveryQueue& operator=(DeliveryQueue&& other) noexcept;
    DeliveryQueue(const DeliveryQueue&) = delete;
    DeliveryQueue& operator=(const DeliveryQueue&) = delete;

    bool empty() const { return m_size == 0; }
    // Bytes still to send, over all queued messages.
    size_t size() const { return m_size; }

    // The message from `offset` on (the socket took the bytes before it already).
    void push(SharedMessages::Message message, size_t offset = 0);
    // The unsent rest of the oldest message; empty when nothing is queued.
    std::string_view front() const;
    // Marks `count` bytes of the front message as sent (at most its rest).
    void consume(size_t count);
    void clear();
    // Drops whole messages that nothing of has been sent yet, the newest first, until
    // `message` more bytes fit under `cap`; true when they fit.
    bool dropUnstartedToFit(size_t message, size_t cap);

private:
    // Most clients never have anything queued, and an empty std::deque already holds a block
    // of its own: the messages get one only while there are any.
    struct Entry {
        SharedMessages::Message message;
        size_t sent; // its bytes that the socket has taken (or that were not for this client)
    };
    std::unique_ptr<std::deque<Entry>> m_messages;
    size_t m_size = 0;
};
