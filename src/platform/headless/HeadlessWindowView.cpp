// The console window with nobody to see it (see HeadlessWindowView.h).
#include "platform/headless/HeadlessWindowView.h"

#include "platform/headless/HeadlessLoop.h"

HeadlessWindowView::HeadlessWindowView(HeadlessLoop& loop)
    : m_loop(loop)
{
}

void HeadlessWindowView::callLater(int delayMs, std::function<void()> call)
{
    m_loop.callLater(delayMs, [alive = std::weak_ptr<bool>(m_alive), call = std::move(call)] {
        if (alive.lock())
            call();
    });
}
