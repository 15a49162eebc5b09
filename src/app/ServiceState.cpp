// The service state's lifetime (see ServiceState.h).
#include "app/ServiceState.h"

#include <optional>

namespace {
std::optional<ServiceState> s_state;
}

ServiceState& service()
{
    if (!s_state)
        s_state.emplace();
    return *s_state;
}

void createServiceState() { s_state.emplace(); }
void releaseServiceState() { s_state.reset(); }
