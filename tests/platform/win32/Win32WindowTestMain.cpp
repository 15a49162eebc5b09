// The main of the in-process tests of the Win32 console (see console/TestsInProgramFrame.h):
// the window system (OLE, the message loop the close tests run) exists before any test
// touches the console and is taken down in order afterwards.
#include "console/TestsInProgramFrame.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32ReadinessWatchers.h"
#include "platform/win32/Win32WindowSystem.h"
#include "platform/win32/Win32WindowView.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    Win32ReadinessWatcherFactory watchers;
    Win32WindowSystem windowSystem;
    Win32Files files;
    return runTestsInProgramFrame(argc, argv, windowSystem, files, watchers, createWin32WindowView);
}
