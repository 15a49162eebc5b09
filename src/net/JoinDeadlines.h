// The connections that are accepted but not yet on the roster (a browser's request before its
// upgrade), in order of arrival: how many may wait at once, and for how long. Connections that
// never finish their request thus cannot fill the server's descriptors or memory, and a newcomer
// always gets in: beyond the cap the oldest waiting connection makes way for it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class JoinDeadlines {
public:
    // Far more than a room's browsers joining at one moment.
    static constexpr size_t kMaxWaiting = 256;
    // A browser sends its request at once; ten seconds is for the slowest network.
    static constexpr std::chrono::milliseconds kDeadline { 10000 };

    using Clock = std::chrono::steady_clock;

    // A connection starts waiting now.
    void add(uint64_t id, Clock::time_point now = Clock::now());
    // The waiting connections to give up at `now`, oldest first: those past their deadline, and
    // the oldest ones while more than the cap wait. `waiting` counts the connections waiting;
    // `stillWaits` tells whether one has not joined or closed meanwhile (those are forgotten).
    std::vector<uint64_t> overdue(size_t waiting, const std::function<bool(uint64_t)>& stillWaits, Clock::time_point now = Clock::now());

    // When the oldest connection still waiting is due, if any (those no longer waiting are
    // forgotten).
    std::optional<Clock::time_point> nextDeadline(const std::function<bool(uint64_t)>& stillWaits);

private:
    std::deque<std::pair<uint64_t, Clock::time_point>> m_arrivals;
};
