// What the program frame asks of the platform's window system: start it, run its message
// loop until asked to stop, show the standard dialog, and take it down again. The frame's
// own rules (end routine, window table, event block, fatal path) are written once in
// ProgramFrame.cpp and FatalError.cpp; a backend (src/platform/<name>/) implements this class,
// and the program's entry point makes one and hands it to startProgram. Close requests that
// reach the program from outside the window (signals on Linux, logoff on Windows) are handed
// to requestProgramClose() in ProgramFrame.h.
#pragma once

#include "runtime/MessageBox.h"

#include <string_view>

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Creates the window system's application state: headless when there is no display, the
    // process's descriptor or handle limits raised, the close-request sources installed.
    virtual void start(int argc, char** argv) = 0;
    // Runs the message loop on the calling (window) thread until quitMessageLoop() is called.
    virtual void runMessageLoop() = 0;
    virtual void quitMessageLoop() = 0;
    // Deletes what the loop deferred and releases the application state; the last call.
    virtual void stop() = 0;

    // True when nobody can see a window (no display): message boxes print instead.
    virtual bool isHeadless() const = 0;

    // Shows the modal dialog and returns the pressed button. Only called with a display.
    virtual MessageBoxResult showMessageBox(std::string_view text, std::string_view caption, const MessageBoxStyle& style) = 0;
};
