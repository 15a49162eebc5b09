// Stand-ins for the three program frame operations that the fatal path calls, for the partial
// Windows build only, until the Win32 frame replaces this file: the message box prints its
// text to standard error and answers OK, as the frame does without a display; there is no end
// routine to forget and nothing to release at the end.
#include "runtime/Cp936.h"
#include "runtime/MessageBox.h"
#include "runtime/ProgramFrame.h"

#include <cstdio>
#include <string>

int32_t messageBox(std::string_view text, uint32_t, std::optional<std::string_view> caption)
{
    std::string line = cp936ToUtf8(caption.value_or("信息：")) + " " + cp936ToUtf8Lines(text);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return 0;
}

void forgetEndRoutine() { }

void endProgram(int32_t) { }
