// The messages that wait in clients' queues, each kept once however many queues hold it, and
// the memory they take together. A relay hands every client the same bytes in a row: a
// thousand clients that are behind then share one copy of each message, and queuing it costs
// each of them a reference instead of a copy of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class SharedMessages {
public:
    using Message = std::shared_ptr<const std::string>;

    SharedMessages();
    SharedMessages(const SharedMessages&) = delete;
    SharedMessages& operator=(const SharedMessages&) = delete;

    // The message holding exactly `bytes`: the last one made when it is still held and holds
    // them, else a new one.
    Message share(std::string_view bytes);
    // Whether share(bytes) would give the last message made, which costs no more memory.
    bool isLast(std::string_view bytes) const;
    // Bytes of all messages that some queue still holds.
    size_t heldBytes() const { return *m_held; }

private:
    // Shared with every message's deleter, so that a queue may outlive the store.
    std::shared_ptr<size_t> m_held;
    std::weak_ptr<const std::string> m_last;
};
