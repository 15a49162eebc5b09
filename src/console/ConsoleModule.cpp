// The console module's registration with the program frame (see ConsoleModule.h).
#include "console/ConsoleModule.h"

#include "console/ConsoleWindow.h"
#include "console/UnitReference.h"
#include "runtime/ProgramFrame.h"

void registerConsoleModule(ReadinessWatcherFactory& watchers, WindowViewFactory views)
{
    registerStartWindow(kConsoleWindowId, [&watchers, views = std::move(views)] { return ConsoleWindow::load(kConsoleWindowId, watchers, views); });
    registerWindowTeardown(unloadAllWindows);
    setCloseRequestHandler([](CloseTiming timing) {
        if (ConsoleWindow* console = findLoadedWindow(kConsoleWindowId))
            console->close(timing);
    });
}
