// The service entry and its handler table (see ApplicationEntry.h).
#include "app/ApplicationEntry.h"

#include "app/Handlers.h"
#include "app/ServiceState.h"
#include "console/HandlerTable.h"
#include "console/UnitReference.h"
#include "runtime/ProgramFrame.h"

#include <array>

void registerServiceHandlers()
{
    static constexpr std::array<Handler, kHandlerCount> handlers = [] {
        std::array<Handler, kHandlerCount> table {};
        table[kOnWindowCreated] = onWindowCreated;
        table[kOnWindowDestroyed] = onWindowDestroyed;
        table[kOnRosterSelect] = onRosterSelect;
        table[kOnDataArrival] = onDataArrival;
        table[kOnClientEnter] = onClientEnter;
        table[kOnClientLeave] = onClientLeave;
        table[kOnKick] = onKick;
        table[kOnShake] = onShake;
        table[kOnQuake] = onQuake;
        table[kOnReward] = onReward;
        table[kOnMute] = onMute;
        table[kOnPrank] = onPrank;
        return table;
    }();
    registerHandlerTable(handlers);
}

int applicationEntry(const RoomOptions& options, ValueStore& store, const Files& files)
{
    initRuntime();
    createServiceState(store, files);
    service().webPort = options.webPort;
    service().history.setBounds(options.history);
    registerServiceHandlers();
    registerEndRoutine(releaseServiceState);
    loadStartWindow(kConsoleWindowId);
    // A room that cannot run has been told so by its start-up handler; the frame's end
    // releases the console, which no client can have reached.
    if (int32_t status = service().exitStatus; status != 0)
        return status;
    runMessageLoop();
    return 0;
}
