// A client's queue of unsent messages (see DeliveryQueue.h).
#include "net/DeliveryQueue.h"

#include <algorithm>
#include <utility>

DeliveryQueue::DeliveryQueue(DeliveryQueue&& other) noexcept
    : m_messages(std::move(other.m_messages))
    , m_size(std::exchange(other.m_size, 0))
{
}

DeliveryQueue& DeliveryQueue::operator=(DeliveryQueue&& other) noexcept
{
    if (this != &other) {
        m_messages = std::move(other.m_messages);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void DeliveryQueue::push(SharedMessages::Message message, size_t offset)
{
    if (!message || offset >= message->size())
        return;
    if (!m_messages)
        m_messages = std::make_unique<std::deque<Entry>>();
    m_size += message->size() - offset;
    m_messages->push_back({ std::move(message), offset });
}

std::string_view DeliveryQueue::front() const
{
    if (empty())
        return {};
    const Entry& front = m_messages->front();
    return std::string_view(*front.message).substr(front.sent);
}

void DeliveryQueue::consume(size_t count)
{
    if (empty())
        return;
    Entry& front = m_messages->front();
    count = std::min(count, front.message->size() - front.sent);
    front.sent += count;
    m_size -= count;
    if (front.sent == front.message->size()) {
        m_messages->pop_front();
        if (m_messages->empty())
            m_messages.reset();
    }
}

void DeliveryQueue::clear()
{
    m_messages.reset();
    m_size = 0;
}

bool DeliveryQueue::dropUnstartedToFit(size_t message, size_t cap)
{
    while (m_size + message > cap && m_messages && m_messages->back().sent == 0) {
        m_size -= m_messages->back().message->size();
        m_messages->pop_back();
        if (m_messages->empty())
            m_messages.reset();
    }
    return m_size + message <= cap;
}
