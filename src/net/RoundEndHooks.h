// The round-end work registered with one readiness loop, for the loops that have rounds: the
// loop calls run() when a round of callbacks is over. Hooks may be added or destroyed while
// they run; one destroyed meanwhile is not called again.
#pragma once

#include "net/ReadinessWatcher.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class RoundEndHooks {
public:
    RoundEndHooks() = default;
    RoundEndHooks(const RoundEndHooks&) = delete;
    RoundEndHooks& operator=(const RoundEndHooks&) = delete;

    std::unique_ptr<RoundEndHook> add(std::function<void()> onRoundEnd);
    void run();

private:
    class Registration;
    void remove(uint64_t id);

    std::vector<std::pair<uint64_t, std::function<void()>>> m_hooks;
    uint64_t m_nextId = 1;
};
