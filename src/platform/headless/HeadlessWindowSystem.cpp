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
    // An empty QT_QPA_PLATFORM asks for nothing, as Qt reads it.
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform)
        return std::string_view(platform) == "offscreen" || std::string_view(platform) == "minimal";
    return !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
}
