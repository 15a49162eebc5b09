// The room's recent history (see RoomHistory.h).
#include "app/RoomHistory.h"

#include <algorithm>

void RoomHistory::setBounds(HistoryBounds bounds)
{
    m_bounds = bounds;
    trim();
}

uint64_t RoomHistory::record(MessageKind kind, std::string_view bytes, std::string_view sender, std::string_view originalText)
{
    uint64_t seq = ++m_lastSeq;
    size_t weight = bytes.size() + sender.size() + originalText.size();
    if (m_bounds.messages == 0 || weight > m_bounds.bytes)
        return seq;
    m_items.push_back({ seq, kind, std::string(bytes), std::string(sender), std::string(originalText) });
    m_bytes += weight;
    trim();
    return seq;
}

void RoomHistory::trim()
{
    while (!m_items.empty() && (m_items.size() > m_bounds.messages || m_bytes > m_bounds.bytes)) {
        m_bytes -= m_items.front().weight();
        m_items.pop_front();
    }
}

void RoomHistory::replay(std::optional<uint64_t> after, const std::function<void(const OutgoingMessage&)>& send) const
{
    // The numbers increase along the list: the first one after `after` is found by halving.
    auto first = after ? std::ranges::upper_bound(m_items, *after, {}, &Item::seq) : m_items.begin();
    for (auto item = first; item != m_items.end(); ++item) {
        send({ .bytes = item->bytes, .kind = item->kind, .seq = item->seq, .sender = item->sender, .originalText = item->originalText });
    }
}

uint64_t RoomHistory::forgottenAfter(uint64_t after) const
{
    if (after >= m_lastSeq)
        return 0;
    auto first = std::ranges::upper_bound(m_items, after, {}, &Item::seq);
    auto kept = static_cast<uint64_t>(m_items.end() - first);
    return (m_lastSeq - after) - kept;
}
