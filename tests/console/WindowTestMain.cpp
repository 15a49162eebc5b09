// The main of the in-process window tests on Qt (see TestsInProgramFrame.h), on the offscreen
// platform when there is no display. Death tests re-run this binary, so their children start
// the same way.
#include "console/TestsInProgramFrame.h"
#include "platform/posix/PosixFiles.h"
#include "platform/qt/QtReadinessWatchers.h"
#include "platform/qt/QtWindowView.h"
#include "platform/qt/QtWindowSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The value store (which the robot may touch) lives beside the test binary, never in the
    // real home.
    PosixFiles files;
    setenv("XDG_CONFIG_HOME", files.joinPath(files.programDirectory(), "config-home").c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    // The children of death tests re-run the binary instead of forking a process that holds a
    // Qt application.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QtReadinessWatcherFactory watchers;
    QtWindowSystem windowSystem(watchers);
    return runTestsInProgramFrame(argc, argv, windowSystem, files, watchers, createQtWindowView);
}
