// Makes the console's windows known to the program frame, and routes close requests that
// arrive by signal to the windows as if their close button had been pressed.
#pragma once

void registerConsoleModule();
