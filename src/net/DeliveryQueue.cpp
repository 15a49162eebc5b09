// A client's queue of unsent messages (see DeliveryQueue.h).
#include "net/DeliveryQueue.h"

#include <algorithm>
#include <utility>

DeliveryQueue::DeliveryQueue(DeliveryQueue&& other) noexcept
    : m_messages(std::move(other.m_messages))
    , m_frontSent(std::exchange(other.m_frontSent, 0))
    , m_size(std::exchange(other.m_size, 0))
{
}

DeliveryQueue& DeliveryQueue::operator=(DeliveryQueue&& other) noexcept
{
    if (this != &other) {
        m_messages = std::move(other.m_messages);
        m_frontSent = std::exchange(other.m_frontSent, 0);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void DeliveryQueue::push(std::string_view message)
{
    if (message.empty())
        return;
    if (!m_messages)
        m_messages = std::make_unique<std::deque<std::string>>();
    m_messages->emplace_back(message);
    m_size += message.size();
}

std::string_view DeliveryQueue::front() const
{
    if (empty())
        return {};
    return std::string_view(m_messages->front()).substr(m_frontSent);
}

void DeliveryQueue::consume(size_t count)
{
    if (empty())
        return;
    count = std::min(count, m_messages->front().size() - m_frontSent);
    m_frontSent += count;
    m_size -= count;
    if (m_frontSent == m_messages->front().size()) {
        m_messages->pop_front();
        m_frontSent = 0;
        if (m_messages->empty())
            m_messages.reset();
    }
}

void DeliveryQueue::clear()
{
    m_messages.reset();
    m_frontSent = 0;
    m_size = 0;
}
