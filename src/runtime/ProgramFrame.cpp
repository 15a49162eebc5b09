// The program frame's rules (see ProgramFrame.h), on whichever window system the backend gives.
#include "runtime/ProgramFrame.h"

#include "runtime/EventBlock.h"
#include "runtime/FatalError.h"
#include "runtime/Files.h"
#include "runtime/WindowSystem.h"

#include <cstdio>
#include <map>

namespace {

struct FrameState {
    int argc = 0;
    char** argv = nullptr;
    bool windowSystemStarted = false;
    EndRoutine endRoutine = nullptr;
    bool loopEntered = false;
    int loadedWindows = 0;
    std::map<uint32_t, StartWindowLoader> windowLoaders;
    WindowTeardown windowTeardown = nullptr;
    std::function<void()> closeRequestHandler;
};

FrameState& frame()
{
    static FrameState state;
    return state;
}

} // namespace

int startProgram(int argc, char** argv, ApplicationEntry entry)
{
    linkAllocationFailureOperators();
    frame().argc = argc;
    frame().argv = argv;
    int exitCode = entry();
    endProgram(exitCode);
    // Windows still loaded go first, while the window system they live in still exists.
    if (frame().windowTeardown)
        frame().windowTeardown();
    if (frame().windowSystemStarted) {
        frame().windowSystemStarted = false;
        platform::stopWindowSystem();
    }
    return exitCode;
}

void initRuntime()
{
    FrameState& state = frame();
    if (state.windowSystemStarted)
        return;
    if (state.argv == nullptr) {
        static char name[] = "chatroom-server";
        static char* defaultArgv[] = { name, nullptr };
        state.argc = 1;
        state.argv = defaultArgv;
    }
    platform::startWindowSystem(state.argc, state.argv);
    state.windowSystemStarted = true;
    // Relative paths mean the program's directory.
    std::string directory = programDirectory();
    if (!directory.empty() && !changeDirectory(directory))
        std::fprintf(stderr, "chatroom-server: cannot change to the program directory %s\n", directory.c_str());
}

void registerEndRoutine(EndRoutine routine) { frame().endRoutine = routine; }
void forgetEndRoutine() { frame().endRoutine = nullptr; }

void registerStartWindow(uint32_t windowId, StartWindowLoader loader)
{
    frame().windowLoaders[windowId] = loader;
}

void registerWindowTeardown(WindowTeardown teardown) { frame().windowTeardown = teardown; }

void loadStartWindow(uint32_t windowId)
{
    auto found = frame().windowLoaders.find(windowId);
    if (found == frame().windowLoaders.end() || !found->second())
        fatalError(0, "载入启动窗口失败");
}

void runMessageLoop()
{
    FrameState& state = frame();
    state.loopEntered = true;
    if (state.loadedWindows == 0 || !state.windowSystemStarted)
        return;
    platform::runMessageLoop();
}

void endProgram(int32_t)
{
    FrameState& state = frame();
    raiseEventBlock();
    if (EndRoutine routine = state.endRoutine) {
        state.endRoutine = nullptr;
        routine();
    }
    state.closeRequestHandler = nullptr;
}

void noteWindowLoaded() { ++frame().loadedWindows; }

void noteWindowDestroyed()
{
    FrameState& state = frame();
    if (state.loadedWindows > 0)
        --state.loadedWindows;
    if (state.loadedWindows == 0 && state.loopEntered)
        platform::quitMessageLoop();
}

void setCloseRequestHandler(std::function<void()> handler)
{
    frame().closeRequestHandler = std::move(handler);
}

void requestProgramClose()
{
    FrameState& state = frame();
    if (state.closeRequestHandler)
        state.closeRequestHandler();
    else if (state.loopEntered)
        platform::quitMessageLoop();
}

bool isHeadless() { return platform::isHeadless(); }
