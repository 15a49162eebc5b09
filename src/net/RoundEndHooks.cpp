// Round-end work of a readiness loop (see RoundEndHooks.h).
#include "net/RoundEndHooks.h"

#include <algorithm>

class RoundEndHooks::Registration final : public RoundEndHook {
public:
    Registration(RoundEndHooks& hooks, uint64_t id)
        : m_hooks(hooks)
        , m_id(id)
    {
    }
    ~Registration() override { m_hooks.remove(m_id); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    RoundEndHooks& m_hooks;
    uint64_t m_id;
};

std::unique_ptr<RoundEndHook> RoundEndHooks::add(std::function<void()> onRoundEnd)
{
    uint64_t id = m_nextId++;
    m_hooks.emplace_back(id, std::move(onRoundEnd));
    return std::make_unique<Registration>(*this, id);
}

void RoundEndHooks::remove(uint64_t id)
{
    std::erase_if(m_hooks, [id](const auto& hook) { return hook.first == id; });
}

// Hooks run in the order they were added. Each is looked up by its id before it runs, since
// an earlier one may have removed it or others.
void RoundEndHooks::run()
{
    if (m_hooks.empty())
        return;
    uint64_t last = m_nextId;
    for (uint64_t after = 0;;) {
        auto next = std::find_if(m_hooks.begin(), m_hooks.end(), [after, last](const auto& hook) { return hook.first > after && hook.first < last; });
        if (next == m_hooks.end())
            return;
        after = next->first;
        std::function<void()> hook = next->second;
        hook();
    }
}
