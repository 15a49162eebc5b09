// The console module's registration with the program frame (see ConsoleModule.h).
#include "console/ConsoleModule.h"

#include "console/ConsoleWindow.h"
#include "console/UnitReference.h"
#include "runtime/ProgramFrame.h"

void registerConsoleModule()
{
    registerStartWindow(kConsoleWindowId, [] { return ConsoleWindow::load(kConsoleWindowId); });
    registerWindowTeardown(unloadAllWindows);
    setCloseRequestHandler([] {
        if (ConsoleWindow* console = findLoadedWindow(kConsoleWindowId))
            console->close();
    });
}
