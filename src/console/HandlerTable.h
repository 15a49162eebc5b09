// The handler table: the service's event handlers, reached from the form's event bindings by
// their handler reference. The service hands its table over before the window is loaded.
#pragma once

#include <cstdint>
#include <span>

using Handler = void (*)();

// Handler references as the console's form stores them; the service's table is indexed by them.
enum HandlerReference : int32_t {
    kNoHandler = -1,
    kOnWindowCreated = 0,
    kOnWindowDestroyed,
    kOnRosterSelect,
    kOnDataArrival,
    kOnClientEnter,
    kOnClientLeave,
    kOnKick,
    kOnShake,
    kOnQuake,
    kOnReward,
    kOnMute,
    kOnPrank,
    kOnInvite,
    kHandlerCount
};

void registerHandlerTable(std::span<const Handler> handlers);
// The handler a reference names, or nullptr for -1 and references outside the table.
Handler resolveHandler(int32_t reference);
