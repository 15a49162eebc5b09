// The limits on connections waiting to join (see JoinDeadlines.h).
#include "net/JoinDeadlines.h"

void JoinDeadlines::add(uint64_t id, Clock::time_point now)
{
    m_arrivals.emplace_back(id, now);
}

std::vector<uint64_t> JoinDeadlines::overdue(size_t waiting, const std::function<bool(uint64_t)>& stillWaits, Clock::time_point now)
{
    std::vector<uint64_t> givenUp;
    while (!m_arrivals.empty()) {
        auto [id, arrived] = m_arrivals.front();
        if (!stillWaits(id)) {
            m_arrivals.pop_front();
            continue;
        }
        if (now - arrived < kDeadline && waiting - givenUp.size() <= kMaxWaiting)
            break;
        givenUp.push_back(id);
        m_arrivals.pop_front();
    }
    return givenUp;
}

std::optional<JoinDeadlines::Clock::time_point> JoinDeadlines::nextDeadline(const std::function<bool(uint64_t)>& stillWaits)
{
    while (!m_arrivals.empty() && !stillWaits(m_arrivals.front().first))
        m_arrivals.pop_front();
    if (m_arrivals.empty())
        return std::nullopt;
    return m_arrivals.front().second + kDeadline;
}
