// The fatal error path (see FatalError.h).
#include "runtime/FatalError.h"

#include "runtime/EventBlock.h"
#include "runtime/MessageBox.h"
#include "runtime/ProgramFrame.h"

#include <cstdio>
#include <cstdlib>

namespace {
// The fatal path's -1: 255 as a Linux exit status, 0xFFFFFFFF on Windows.
constexpr int kFatalExitStatus = -1;
}

std::string fatalErrorText(int32_t code, std::string_view message)
{
    std::string text = "运行时出错!\r\n\r\n";
    if (code != 0)
        text += "错误代码：" + std::to_string(code) + "\r\n\r\n";
    if (!message.empty())
        text += "错误信息：" + std::string(message) + "\r\n";
    return text;
}

void fatalError(int32_t code, std::string_view message)
{
    // Showing the dialog needs memory; when it is memory that ran out, a second failure
    // lands here again. Give up at once then, without allocating anything more.
    static bool s_reporting = false;
    if (s_reporting) {
        std::fputs("chatroom-server: fatal error while reporting a fatal error\n", stderr);
        std::_Exit(kFatalExitStatus);
    }
    s_reporting = true;
    // From here on no handler may run, not even while the dialog below waits for OK.
    raiseEventBlock();
    messageBox(fatalErrorText(code, message), kMessageBoxIconError, std::string_view("错误"));
    forgetEndRoutine();
    endProgram(kFatalExitStatus);
    std::fflush(nullptr);
    std::_Exit(kFatalExitStatus);
}
