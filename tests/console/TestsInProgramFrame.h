// The in-process window tests run as the program's own entry, inside the real program frame
// on the platform's window system, with the console module registered as the program's entry
// point registers it: the runtime and the window system exist before any test touches the
// console and are taken down in order afterwards. Each platform's test main makes the
// backend's objects and calls this.
#pragma once

#include "console/ConsoleModule.h"
#include "net/ReadinessWatcher.h"
#include "runtime/Files.h"
#include "runtime/ProgramFrame.h"
#include "runtime/WindowSystem.h"

#include <gtest/gtest.h>

inline int runTestsInProgramFrame(int argc, char** argv, WindowSystem& windowSystem, const Files& files, ReadinessWatcherFactory& watchers, WindowViewFactory views)
{
    registerConsoleModule(watchers, std::move(views));
    return startProgram(argc, argv, windowSystem, files, [] {
        initRuntime();
        return RUN_ALL_TESTS();
    });
}
