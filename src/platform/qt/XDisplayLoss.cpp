// The X display going away under a running console (see XDisplayLoss.h).
#include "platform/qt/XDisplayLoss.h"

#include "runtime/ProgramFrame.h"

#include <QGuiApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include <xcb/xcb.h>

namespace {

// Qt's connection to the X server while the application exists; null without one (another
// platform, before the start, after the stop). Qt's exit and the exit handler reach it from
// no caller that could pass it.
xcb_connection_t* s_connection = nullptr;
// The room is being closed for the lost display: what Qt logs meanwhile passes through.
bool s_ending = false;

bool connectionBroken()
{
    return s_connection && xcb_connection_has_error(s_connection) != 0;
}

[[noreturn]] void endForLostDisplay()
{
    s_ending = true;
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr, "chatroom-server: the display %s has gone (its X connection broke); the room is dissolved\n", name ? name : "");
    std::fflush(stderr);
    endProgramForLostDisplay();
}

void endAtExitIfDisplayLost()
{
    if (!s_ending && connectionBroken())
        endForLostDisplay();
}

} // namespace

void watchXDisplay()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    s_connection = x11 ? x11->connection() : nullptr;
}

void guardExitForLostXDisplay()
{
    static bool installed = false;
    if (installed || !s_connection)
        return;
    installed = std::atexit(endAtExitIfDisplayLost) == 0;
}

void forgetXDisplay() { s_connection = nullptr; }

void endIfXDisplayLost()
{
    // Qt's X event reader warns from its own thread too; the room is the window thread's.
    if (s_ending || !connectionBroken() || QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    endForLostDisplay();
}
