// Makes the console's windows known to the program frame, and routes close requests that
// arrive by signal to the windows as if their close button had been pressed. The program's
// entry point passes the window thread's readiness watchers, on which the windows' server
// components run; they must outlive the program frame.
#pragma once

#include "console/WindowView.h"

class ReadinessWatcherFactory;

// The windows' views come from `views`.
void registerConsoleModule(ReadinessWatcherFactory& watchers, WindowViewFactory views);
