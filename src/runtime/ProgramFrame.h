// The program frame: starts the process, runs the service's entry once, runs the window
// thread's message loop while a program window exists, and ends the program in order.
// Everything happens on one thread; the frame owns the Qt application object.
#pragma once

#include <cstdint>
#include <functional>

using ApplicationEntry = int (*)();
using EndRoutine = void (*)();
using StartWindowLoader = bool (*)();

// Process start: runs `entry` (which calls initRuntime, loadStartWindow and runMessageLoop),
// then the normal end. Returns the process's exit status.
int startProgram(int argc, char** argv, ApplicationEntry entry);

// Keeps the fatal allocation-failure operators in the program (see AllocationFailure.cpp).
void linkAllocationFailureOperators();

// Prepares the runtime: the Qt application (offscreen when there is no display), the
// program directory as current directory, and close requests by signal.
void initRuntime();
void registerEndRoutine(EndRoutine routine);
void forgetEndRoutine();

// Windows the frame can load, by identifier; the console module registers its window here.
void registerStartWindow(uint32_t windowId, StartWindowLoader loader);
// Creates and shows the window; an unknown id or a failed creation is fatal.
void loadStartWindow(uint32_t windowId);
// Returns when the last program window is gone.
void runMessageLoop();
// Orderly end: blocks events, runs the end routine at most once, releases the frame.
void endProgram(int32_t exitCode);

// The window table, kept by the windows themselves as they come and go.
void noteWindowLoaded();
void noteWindowDestroyed();

// A close request by signal (SIGINT, SIGTERM, SIGHUP) runs this on the window thread, as if
// the user had pressed the close button.
void setCloseRequestHandler(std::function<void()> handler);

// True when the program runs without a display (Qt's offscreen or minimal platform).
bool isHeadless();
