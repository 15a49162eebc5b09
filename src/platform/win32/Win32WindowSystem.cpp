// The program frame's window system on Win32 (see Win32WindowSystem.h). Esc in any of a
// console's controls asks its window to close, as the close button does.
#include "platform/win32/Win32WindowSystem.h"

#include "platform/win32/CodePage936.h"
#include "platform/win32/Win32WindowView.h"

#include <ole2.h>
#include <windows.h>

namespace {

// Esc goes to the focused control; the console it belongs to treats it as a close request.
bool isEscapeForConsole(const MSG& message)
{
    if (message.message != WM_KEYDOWN || message.wParam != VK_ESCAPE || !message.hwnd)
        return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (!isConsoleWindow(root))
        return false;
    PostMessageW(root, WM_CLOSE, 0, 0);
    return true;
}

UINT iconFlags(MessageBoxIcon icon)
{
    switch (icon) {
    case MessageBoxIcon::Error: return MB_ICONERROR;
    case MessageBoxIcon::Question: return MB_ICONQUESTION;
    case MessageBoxIcon::Warning: return MB_ICONWARNING;
    case MessageBoxIcon::Information: return MB_ICONINFORMATION;
    case MessageBoxIcon::None: break;
    }
    return 0;
}

UINT buttonFlags(MessageBoxButtons buttons)
{
    switch (buttons) {
    case MessageBoxButtons::OkCancel: return MB_OKCANCEL;
    case MessageBoxButtons::AbortRetryIgnore: return MB_ABORTRETRYIGNORE;
    case MessageBoxButtons::YesNoCancel: return MB_YESNOCANCEL;
    case MessageBoxButtons::YesNo: return MB_YESNO;
    case MessageBoxButtons::RetryCancel: return MB_RETRYCANCEL;
    case MessageBoxButtons::Ok: break;
    }
    return MB_OK;
}

MessageBoxResult resultOf(int pressed)
{
    switch (pressed) {
    case IDCANCEL: return MessageBoxResult::Cancel;
    case IDABORT: return MessageBoxResult::Abort;
    case IDRETRY: return MessageBoxResult::Retry;
    case IDIGNORE: return MessageBoxResult::Ignore;
    case IDYES: return MessageBoxResult::Yes;
    case IDNO: return MessageBoxResult::No;
    default: return MessageBoxResult::Ok;
    }
}

} // namespace

Win32WindowSystem::~Win32WindowSystem()
{
    stop();
}

void Win32WindowSystem::start(int, char**)
{
    if (!m_oleStarted)
        m_oleStarted = SUCCEEDED(OleInitialize(nullptr));
}

void Win32WindowSystem::runMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (isEscapeForConsole(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32WindowSystem::quitMessageLoop() { PostQuitMessage(0); }

void Win32WindowSystem::stop()
{
    if (m_oleStarted)
        OleUninitialize();
    m_oleStarted = false;
}

MessageBoxResult Win32WindowSystem::showMessageBox(std::string_view text, std::string_view caption, const MessageBoxStyle& style)
{
    UINT flags = iconFlags(style.icon) | buttonFlags(style.buttons) | MB_TASKMODAL | (style.topmost ? MB_TOPMOST : 0);
    return resultOf(MessageBoxW(nullptr, cp936ToWide(text).c_str(), cp936ToWide(caption).c_str(), flags));
}
