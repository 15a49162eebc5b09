// The service state's lifetime (see ServiceState.h).
#include "app/ServiceState.h"

#include <optional>

namespace {
std::optional<ServiceState> s_state;
}

ServiceState& service() { return s_state.value(); }

void createServiceState(ValueStore& store, const Files& files) { s_state.emplace(store, files); }
void releaseServiceState() { s_state.reset(); }
