// Marks the time a readiness callback of the server component runs, and keeps the watchers it
// retires meanwhile. A watcher of a closed socket is disabled at once but destroyed only when
// no callback of the component is on the stack, since one of them may be its caller. Shared by
// the component's listeners, connections and round gathering, so that they agree on when a
// callback is running.
#pragma once

#include "net/ReadinessWatcher.h"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class ReadinessDispatch {
public:
    // Held for the length of one readiness callback. Entering an outermost callback destroys
    // the retired watchers and runs the work registered with onOutermostEntry.
    class Scope {
    public:
        explicit Scope(ReadinessDispatch& dispatch)
            : m_dispatch(dispatch)
        {
            if (m_dispatch.m_depth++ == 0) {
                m_dispatch.m_retired.clear();
                if (m_dispatch.m_onOutermostEntry)
                    m_dispatch.m_onOutermostEntry();
            }
        }
        ~Scope() { --m_dispatch.m_depth; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ReadinessDispatch& m_dispatch;
    };

    ReadinessDispatch() = default;
    ReadinessDispatch(const ReadinessDispatch&) = delete;
    ReadinessDispatch& operator=(const ReadinessDispatch&) = delete;

    bool inCallback() const { return m_depth > 0; }
    // Work that runs on entry to each outermost callback (closing connections past their
    // deadline are given up then).
    void onOutermostEntry(std::function<void()> work) { m_onOutermostEntry = std::move(work); }

    // Disables the watcher; destroys it now, or on entry to the next outermost callback when a
    // callback is running.
    void retire(std::unique_ptr<ReadinessWatcher> watcher)
    {
        if (!watcher)
            return;
        watcher->setEnabled(false);
        if (m_depth > 0)
            m_retired.push_back(std::move(watcher));
    }

private:
    int m_depth = 0;
    std::vector<std::unique_ptr<ReadinessWatcher>> m_retired;
    std::function<void()> m_onOutermostEntry;
};
