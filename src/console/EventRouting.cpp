// Event routing (see EventRouting.h).
#include "console/EventRouting.h"

#include "console/ConsoleWindow.h"
#include "console/HandlerTable.h"
#include "runtime/EventBlock.h"
#include "runtime/FatalError.h"

namespace {

// One per process by nature: events are raised and handled on the one window thread, and the
// handlers, called through the handler table without arguments, ask here who raised theirs.
EventSource s_currentSource;
int s_nestingDepth = 0;

bool typeRaisesEvents(uint32_t typeCode)
{
    switch (typeCode) {
    case kTypeWindow:
    case kTypeMenuItem:
    case kTypeEditBox:
    case kTypeListBox:
    case kTypeServer:
        return true;
    default:
        return false;
    }
}

int32_t boundHandler(const UnitDescription& unit, int32_t event)
{
    // A menu item has one binding, its click, whatever number the raiser gives.
    if (unit.typeCode == kTypeMenuItem)
        return unit.bindings.empty() ? kNoHandler : unit.bindings.front().handler;
    for (const EventBinding& binding : unit.bindings) {
        if (binding.event == event)
            return binding.handler;
    }
    return kNoHandler;
}

} // namespace

bool raiseEvent(uint32_t windowId, uint32_t unitId, int32_t event)
{
    if (eventBlockCount() > 0)
        return false;
    ConsoleWindow* window = findLoadedWindow(windowId);
    if (!window)
        fatalError(0, "未找到引发事件的窗口");
    const UnitDescription* unit = window->findUnit(unitId);
    if (!unit)
        fatalError(0, "未找到引发事件的窗口组件");
    if (!typeRaisesEvents(unit->typeCode))
        fatalError(0, "引发事件的窗口组件无效");
    Handler handler = resolveHandler(boundHandler(*unit, event));
    if (!handler)
        return false;
    s_currentSource = { windowId, unitId };
    ++s_nestingDepth;
    handler();
    --s_nestingDepth;
    s_currentSource = {};
    return true;
}

EventSource currentEventSource() { return s_currentSource; }
int eventNestingDepth() { return s_nestingDepth; }
