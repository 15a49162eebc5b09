// The main of the in-process tests of the Win32 console. The tests run as the program's own
// entry, inside the real program frame, so that the window system (OLE, the message loop the
// close tests run) exists before any test touches the console and is taken down in order
// afterwards.
#include "console/ConsoleModule.h"
#include "platform/win32/Win32ReadinessWatchers.h"
#include "platform/win32/Win32WindowSystem.h"
#include "runtime/ProgramFrame.h"

#include <gtest/gtest.h>

namespace {

int runTests()
{
    initRuntime();
    return RUN_ALL_TESTS();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    Win32ReadinessWatcherFactory watchers;
    Win32WindowSystem windowSystem;
    registerConsoleModule(watchers);
    return startProgram(argc, argv, windowSystem, runTests);
}
