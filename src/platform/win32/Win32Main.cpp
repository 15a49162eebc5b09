// The Windows program's entry point and composition root: a GUI program with a wide command
// line, which is handed to the program frame as code page 936 texts, as the rest of the
// program reads them. It makes the backend's objects (the value store on the registry, the
// files, the readiness watchers on window messages, the Win32 window system and its view
// factory) and hands them to the service, the console and the frame. The room's options
// (RoomOptions.h) are read here; with no console to print to, a wrong one is shown in a
// message box and the program ends.
#include "app/ApplicationEntry.h"
#include "app/RoomOptions.h"
#include "console/ConsoleModule.h"
#include "platform/win32/CodePage936.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32ReadinessWatchers.h"
#include "platform/win32/Win32ValueStore.h"
#include "platform/win32/Win32WindowSystem.h"
#include "platform/win32/Win32WindowView.h"
#include "runtime/MessageBox.h"
#include "runtime/ProgramFrame.h"

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {
// As the Linux program's command line ends on a malformed request.
constexpr int kExitStatusBadOption = 2;
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back(wideToCp936(wide[i]));
    LocalFree(wide);
    std::vector<char*> arguments;
    for (std::string& text : texts)
        arguments.push_back(text.data());
    arguments.push_back(nullptr);
    std::vector<std::string_view> afterName;
    for (size_t i = 1; i < texts.size(); ++i)
        afterName.push_back(texts[i]);
    std::string problem;
    std::optional<RoomOptions> options = parseRoomOptions(afterName, problem);
    Win32ValueStore valueStore;
    Win32Files files;
    Win32ReadinessWatcherFactory watchers;
    Win32WindowSystem windowSystem;
    registerConsoleModule(watchers, createWin32WindowView);
    return startProgram(count, arguments.data(), windowSystem, files, [&] {
        if (options)
            return applicationEntry(*options, valueStore, files);
        initRuntime();
        messageBox("chatroom-server: " + problem, kMessageBoxIconError);
        return kExitStatusBadOption;
    });
}
