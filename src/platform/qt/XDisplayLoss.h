// The X display going away under a running console (its X server ended, the session logged
// out). Qt's X plugin then ends the process by itself with status 1, after a warning and with no
// signal or event before it, so the room would vanish without a word to its clients. The
// warning is the hook: when Qt warns on the window thread while its X connection has broken,
// the room is closed as the close button closes it (every client told) and the program ends
// with status 0, before Qt's own exit is reached. An exit handler does the same should Qt ever
// end without warning first.
#pragma once

// After the application is made: watches its X connection, when it has one.
void watchXDisplay();
// Once the message loop runs: the exit handler, installed once per process. It runs before
// the static objects made earlier (the console's window table among them) are destroyed.
void guardExitForLostXDisplay();
// Before the application is destroyed: an end from here on is the program's own.
void forgetXDisplay();
// Called on every message Qt logs: when the X connection has broken, closes the room and ends
// the program (status 0) and does not return; otherwise returns at once.
void endIfXDisplayLost();
