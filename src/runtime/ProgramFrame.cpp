// The program frame's rules (see ProgramFrame.h), on whichever window system the backend gives.
#include "runtime/ProgramFrame.h"

#include "runtime/EventBlock.h"
#include "runtime/FatalError.h"
#include "runtime/Files.h"
#include "runtime/WindowSystem.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

struct FrameState {
    WindowSystem* windowSystem = nullptr;
    const Files* files = nullptr;
    int argc = 0;
    char** argv = nullptr;
    bool windowSystemStarted = false;
    EndRoutine endRoutine = nullptr;
    bool loopEntered = false;
    int loadedWindows = 0;
    std::map<uint32_t, StartWindowLoader> windowLoaders;
    WindowTeardown windowTeardown = nullptr;
    std::function<void(CloseTiming)> closeRequestHandler;
};

// The program frame is one per process by nature: the fatal path, the allocation failure
// operators and close requests from signal handlers and the session reach it from anywhere,
// with no caller to pass it.
FrameState& frame()
{
    static FrameState state;
    return state;
}

} // namespace

int startProgram(int argc, char** argv, WindowSystem& windowSystem, const Files& files, ApplicationEntry entry)
{
    linkAllocationFailureOperators();
    frame().windowSystem = &windowSystem;
    frame().files = &files;
    frame().argc = argc;
    frame().argv = argv;
    int exitCode = entry();
    endProgram(exitCode);
    // Windows still loaded go first, while the window system they live in still exists.
    if (frame().windowTeardown)
        frame().windowTeardown();
    if (frame().windowSystemStarted) {
        frame().windowSystemStarted = false;
        windowSystem.stop();
    }
    frame().windowSystem = nullptr;
    frame().files = nullptr;
    return exitCode;
}

void initRuntime()
{
    FrameState& state = frame();
    if (state.windowSystemStarted || !state.windowSystem)
        return;
    if (state.argv == nullptr) {
        static char name[] = "chatroom-server";
        static char* defaultArgv[] = { name, nullptr };
        state.argc = 1;
        state.argv = defaultArgv;
    }
    state.windowSystem->start(state.argc, state.argv);
    state.windowSystemStarted = true;
    // Relative paths mean the program's directory.
    std::string directory = state.files->programDirectory();
    if (!directory.empty() && !state.files->changeDirectory(directory))
        std::fprintf(stderr, "chatroom-server: cannot change to the program directory %s\n", directory.c_str());
}

void registerEndRoutine(EndRoutine routine) { frame().endRoutine = routine; }
void forgetEndRoutine() { frame().endRoutine = nullptr; }

void registerStartWindow(uint32_t windowId, StartWindowLoader loader)
{
    frame().windowLoaders[windowId] = loader;
}

void registerWindowTeardown(WindowTeardown teardown) { frame().windowTeardown = teardown; }

bool loadWindow(uint32_t windowId)
{
    auto found = frame().windowLoaders.find(windowId);
    return found != frame().windowLoaders.end() && found->second();
}

void loadStartWindow(uint32_t windowId)
{
    if (!loadWindow(windowId))
        fatalError(0, "载入启动窗口失败");
}

void runMessageLoop()
{
    FrameState& state = frame();
    state.loopEntered = true;
    if (state.loadedWindows == 0 || !state.windowSystemStarted)
        return;
    state.windowSystem->runMessageLoop();
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
    if (state.loadedWindows == 0 && state.loopEntered && state.windowSystem)
        state.windowSystem->quitMessageLoop();
}

void setCloseRequestHandler(std::function<void(CloseTiming)> handler)
{
    frame().closeRequestHandler = std::move(handler);
}

void requestProgramClose(CloseTiming timing)
{
    FrameState& state = frame();
    if (state.closeRequestHandler)
        state.closeRequestHandler(timing);
    else if (state.loopEntered && state.windowSystem)
        state.windowSystem->quitMessageLoop();
}

void endProgramForLostDisplay()
{
    FrameState& state = frame();
    // Whatever handler waits in a message box now will never resume: the room is dissolved
    // under it.
    requestProgramClose(CloseTiming::AtOnce);
    endProgram(0);
    if (state.windowTeardown)
        state.windowTeardown();
    // No static object is destroyed: the window system they may refer to is broken, and it
    // must not be entered again.
    std::fflush(nullptr);
    std::_Exit(0);
}

bool isHeadless()
{
    const WindowSystem* system = frame().windowSystem;
    return !system || system->isHeadless();
}

WindowSystem* programWindowSystem() { return frame().windowSystem; }
