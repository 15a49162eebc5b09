// The room's recent history, in memory only: the last messages it carried to everybody (the
// relayed chunks with their sender's roster entry, and the sender's UTF-8 original when it
// gave one; the server's room-wide texts), each numbered in the room's order. It is bounded
// by a count and by the bytes it holds; the oldest go first. Texts to one member only never
// enter it. A restart starts it empty, and its numbers from 1 again.
#pragma once

#include "net/RoomMemory.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

struct HistoryBounds {
    static constexpr size_t kDefaultMessages = 500;
    static constexpr size_t kDefaultBytes = 1024 * 1024;
    // 0 in either switches the history off (messages are still numbered).
    size_t messages = kDefaultMessages;
    size_t bytes = kDefaultBytes;
};

class RoomHistory final : public RoomMemory {
public:
    explicit RoomHistory(HistoryBounds bounds = {})
        : m_bounds(bounds)
    {
    }
    void setBounds(HistoryBounds bounds);

    // Numbers a message the room is carrying to everybody and remembers it within the bounds
    // (one larger than the byte bound alone is numbered and forgotten). Returns its number.
    uint64_t record(MessageKind kind, std::string_view bytes, std::string_view sender = {}, std::string_view originalText = {});

    void replay(std::optional<uint64_t> after, const std::function<void(const OutgoingMessage&)>& send) const override;
    uint64_t forgottenAfter(uint64_t after) const override;

    size_t size() const { return m_items.size(); }
    // What the bound on bytes counts: each message's bytes, sender and original.
    size_t bytes() const { return m_bytes; }
    uint64_t lastSeq() const { return m_lastSeq; }

private:
    struct Item {
        uint64_t seq;
        MessageKind kind;
        std::string bytes;
        std::string sender;
        std::string originalText;
        size_t weight() const { return bytes.size() + sender.size() + originalText.size(); }
    };
    void trim();

    HistoryBounds m_bounds;
    std::deque<Item> m_items;
    size_t m_bytes = 0;
    uint64_t m_lastSeq = 0;
};
