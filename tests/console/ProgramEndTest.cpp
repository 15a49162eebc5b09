// How a program with the console ends, each run in a child process through the real program
// frame: Esc closes the console, the being-destroyed handler runs once, the end routine runs
// once and the status is 0; a fatal error inside a handler ends with status 255 and the
// dialog's text, and neither the end routine nor any later handler runs.
#include "console/CountingHandlers.h"
#include "console/EventRouting.h"
#include "console/QtConsoleDriver.h"
#include "platform/posix/PosixFiles.h"
#include "runtime/ProgramFrame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using namespace console_test;

constexpr const char* kBeingDestroyed = "[being destroyed]\n";
constexpr const char* kEndRoutine = "[end routine]\n";

void say(const char* line)
{
    std::fputs(line, stderr);
    std::fflush(stderr);
}

size_t occurrences(const std::string& text, const std::string& sought)
{
    size_t count = 0;
    for (size_t at = text.find(sought); at != std::string::npos; at = text.find(sought, at + sought.size()))
        ++count;
    return count;
}

void endRoutine() { say(kEndRoutine); }

// The program's start as the service's entry makes it, with the console's server off the
// fixed port; `then` runs once the message loop is running.
int runConsole(void (*then)())
{
    initRuntime();
    registerEndRoutine(endRoutine);
    loadStartWindow(kConsoleWindowId);
    serverComponent(服务器1).setPort(test_support::freeTcpPort());
    QTimer::singleShot(0, then);
    // A child that does not end by itself must not hang the suite.
    QTimer::singleShot(kWaitLimitMs, [] {
        say("[gave up waiting for the program to end]\n");
        _exit(3);
    });
    runMessageLoop();
    return 0;
}

[[noreturn]] void runProgramInChild(int (*entry)())
{
    static char name[] = "console_tests";
    static char* argv[] = { name, nullptr };
    // The child runs again on the window system the test binary's main made.
    PosixFiles files;
    int status = startProgram(1, argv, *programWindowSystem(), files, entry);
    // A second orderly end must not run the end routine again.
    endProgram(status);
    std::fprintf(stderr, "[status %d]\n", status);
    std::fflush(stderr);
    _exit(status);
}

void pressEscOnConsole()
{
    if (!QtConsoleDriver::pressEscapeInWindow())
        say("[the console never became active]\n");
}

TEST(ProgramEndDeathTest, EscEndsTheProgramWithStatusZeroAfterOneDestroyedEventAndOneEndRoutine)
{
    auto ranInOrder = [](const std::string& err) {
        size_t destroyed = err.find(kBeingDestroyed);
        size_t ended = err.find(kEndRoutine);
        return occurrences(err, kBeingDestroyed) == 1 && occurrences(err, kEndRoutine) == 1 && destroyed < ended
            && err.find("[status 0]") != std::string::npos;
    };
    EXPECT_EXIT(
        {
            registerCountingHandlers();
            handlerCalls().extra[kOnWindowDestroyed] = [] { say(kBeingDestroyed); };
            runProgramInChild([] { return runConsole(pressEscOnConsole); });
        },
        ::testing::ExitedWithCode(0), ::testing::Truly(ranInOrder));
}

void fatalInsideAHandler()
{
    // A handler that names a unit the console does not have; the handlers of the events
    // raised after it must never run.
    handlerCalls().extra[kOnShake] = [] {
        raiseEvent(kConsoleWindowId, 0x1601FFFF, 0);
        say("[fatal error returned]\n");
    };
    handlerCalls().extra[kOnQuake] = [] { say("[later handler ran]\n"); };
    raiseEvent(kConsoleWindowId, 抖动.unitId, kMenuItemClick);
    raiseEvent(kConsoleWindowId, 地震.unitId, kMenuItemClick);
    console()->close();
}

TEST(ProgramEndDeathTest, FatalErrorEndsWithStatus255WithoutEndRoutineOrLaterHandlers)
{
    auto endedFatally = [](const std::string& err) {
        return err.find(reinterpret_cast<const char*>(u8"运行时出错!")) != std::string::npos
            && err.find(reinterpret_cast<const char*>(u8"错误信息：未找到引发事件的窗口组件")) != std::string::npos
            && err.find(kEndRoutine) == std::string::npos && err.find(kBeingDestroyed) == std::string::npos
            && err.find("[later handler ran]") == std::string::npos && err.find("[fatal error returned]") == std::string::npos
            && err.find("[status") == std::string::npos;
    };
    EXPECT_EXIT(
        {
            registerCountingHandlers();
            handlerCalls().extra[kOnWindowDestroyed] = [] { say(kBeingDestroyed); };
            runProgramInChild([] { return runConsole(fatalInsideAHandler); });
        },
        ::testing::ExitedWithCode(255), ::testing::Truly(endedFatally));
}

} // namespace
