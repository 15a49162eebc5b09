// Which display the console can open, asked before Qt starts: Qt's platform plugin ends the
// process (abort) when the display it was given cannot be opened, and a room must never die
// of a stale DISPLAY (an ssh -X session that has ended), an empty one, or a WAYLAND_DISPLAY
// with no compositor behind it. The program's entry point asks this when the environment names
// a display, and runs headless, saying why, when none can be used.
#pragma once

#include <string>

struct DisplayChoice {
    // The Qt platform to ask for (QT_QPA_PLATFORM) so that Qt opens the display that works and
    // not the other one; empty when Qt's own choice is safe.
    std::string platform;
    // Why no display can be used, in a few words for the administrator; empty when one can.
    std::string problem;

    bool usable() const { return problem.empty(); }
};

// Opens each display the environment names (an X connection made exactly as Qt makes it, with
// the user's authority; a connection to the Wayland compositor's socket) and closes it again.
// Only called when a display is named at all and no headless platform was asked for.
DisplayChoice chooseDisplay();
