// The headless window system (see HeadlessWindowSystem.h).
#include "platform/headless/HeadlessWindowSystem.h"

#include "runtime/ProgramFrame.h"

#include <cstdlib>
#include <string_view>

HeadlessWindowSystem::HeadlessWindowSystem(EpollWatchers& watchers)
    : m_watchers(watchers)
    , m_loop(watchers)
{
}

void HeadlessWindowSystem::start(int, char**)
{
    if (m_closeSignals)
        return;
    raiseDescriptorLimit();
    m_closeSignals = std::make_unique<CloseSignals>(m_watchers, [] { requestProgramClose(); });
}

bool runsHeadless()
{
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"))
        return std::string_view(platform) == "offscreen" || std::string_view(platform) == "minimal";
    return !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
}
