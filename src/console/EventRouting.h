// Event routing: a unit raises an event by number; the console finds the handler its form
// binds to that event and runs it to its end before the raiser goes on.
#pragma once

#include <cstdint>

// Window events the console raises.
constexpr int32_t kWindowCreated = 0;
constexpr int32_t kWindowCloseQuery = 1;
constexpr int32_t kWindowBeingDestroyed = 2;
constexpr int32_t kWindowCreatedFollowUp1 = 3;
constexpr int32_t kWindowCreatedFollowUp2 = 4;
constexpr int32_t kWindowCloseQueryFirst = 12;
// The window's own command was chosen (WindowDescription::windowCommandCaption).
constexpr int32_t kWindowCommandChosen = 100;
// The one event of a menu item and the list box's selection change.
constexpr int32_t kMenuItemClick = 0;
constexpr int32_t kListSelectionChanged = 0;
constexpr int32_t kListDoubleClick = 1;
// The server component's events (TcpServer::Event; ConsoleWindow.cpp checks that they agree).
constexpr int32_t kServerDataArrival = 0;
constexpr int32_t kServerClientEntered = 1;
constexpr int32_t kServerClientLeft = 2;

// True when a handler ran. Nothing runs while events are blocked; an unknown window or unit,
// or a unit of a type without events, is a fatal error.
bool raiseEvent(uint32_t windowId, uint32_t unitId, int32_t event);

struct EventSource {
    uint32_t windowId = 0;
    uint32_t unitId = 0;
};
// The innermost event being handled; zeros when none.
EventSource currentEventSource();
// How many handlers are running, nested ones included; 0 between events.
int eventNestingDepth();
