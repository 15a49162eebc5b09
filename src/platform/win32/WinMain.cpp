// The Windows program's entry point: a GUI program with a wide command line, which is handed
// to the program frame as code page 936 texts, as the rest of the program reads them.
#include "console/ConsoleModule.h"
#include "runtime/ProgramFrame.h"

#include "app/ApplicationEntry.h"
#include "platform/win32/CodePage936.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

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
    registerConsoleModule();
    return startProgram(count, arguments.data(), applicationEntry);
}
