// The program frame: starts the process, runs the service's entry once, runs the window
// thread's message loop while a program window exists, and ends the program in order.
// Everything happens on one thread. The window system under it and the files are a
// backend's (see WindowSystem.h, Files.h), made by the program's entry point; the rules here
// are the same on every platform.
#pragma once

#include <cstdint>
#include <functional>

class Files;
class WindowSystem;

using ApplicationEntry = std::function<int()>;
using EndRoutine = void (*)();
using StartWindowLoader = std::function<bool()>;
using WindowTeardown = void (*)();

// Process start: runs `entry` (which calls initRuntime, loadStartWindow and runMessageLoop)
// on `windowSystem`, in the program's directory as `files` names it, then the normal end.
// Returns the process's exit status.
int startProgram(int argc, char** argv, WindowSystem& windowSystem, const Files& files, ApplicationEntry entry);

// Keeps the fatal allocation-failure operators in the program (see AllocationFailure.cpp).
void linkAllocationFailureOperators();

// Prepares the runtime: the window system (headless when there is no display), the program
// directory as current directory, and close requests from outside the window.
void initRuntime();
void registerEndRoutine(EndRoutine routine);
void forgetEndRoutine();

// Windows the frame can load, by identifier; the console module registers its window here,
// and the teardown that releases windows still loaded when the program ends.
void registerStartWindow(uint32_t windowId, StartWindowLoader loader);
void registerWindowTeardown(WindowTeardown teardown);
// Creates and shows the window with its registered loader; false for an unknown id or a
// failed creation (a window that is loaded already).
bool loadWindow(uint32_t windowId);
// The same for the program's start window, where failing is fatal.
void loadStartWindow(uint32_t windowId);
// Returns when the last program window is gone.
void runMessageLoop();
// Orderly end: blocks events, runs the end routine at most once, releases the frame.
void endProgram(int32_t exitCode);

// The window table, kept by the windows themselves as they come and go.
void noteWindowLoaded();
void noteWindowDestroyed();

// When a close request is carried out. A handler still running on the window thread (one
// waiting in a message box or the pop-up) is normally let return first; when the program ends
// without ever returning into it (the display is gone), the close cannot wait for it.
enum class CloseTiming { AfterRunningHandlers, AtOnce };
// A close request from outside the window (a signal, the session ending) runs this on the
// window thread, as if the user had pressed the close button.
void setCloseRequestHandler(std::function<void(CloseTiming)> handler);
// Called by the window system's backend when such a request arrives.
void requestProgramClose(CloseTiming timing = CloseTiming::AfterRunningHandlers);

// The display the windows are on has gone for good (its server ended, the session logged out)
// and the window system would end the process by itself: closes the windows as a close
// request does (the room tells its clients it is dissolved), runs the end routine, and ends
// the process at once with status 0, never returning into the window system.
[[noreturn]] void endProgramForLostDisplay();

// True when the program runs without a display (also before and after startProgram).
bool isHeadless();
// The window system the program runs on; nullptr outside startProgram.
WindowSystem* programWindowSystem();
