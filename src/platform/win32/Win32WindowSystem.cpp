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

// Every button MessageBoxW can answer with; a box that could not be shown (0) answers OK, as
// one without a display does.
MessageBoxResult resultOf(int pressed)
{
    switch (pressed) {
    case IDCANCEL: return MessageBoxResult::Cancel;
    case IDABORT: return MessageBoxResult::Abort;
    case IDRETRY: return MessageBoxResult::Retry;
    case IDIGNORE: return MessageBoxResult::Ignore;
    case IDYES: return MessageBoxResult::Yes;
    case IDNO: return MessageBoxResult::No;
    case IDCLOSE: return MessageBoxResult::Close;
    case IDHELP: return MessageBoxResult::Help;
    case IDTRYAGAIN: return MessageBoxResult::TryAgain;
    case IDCONTINUE: return MessageBoxResult::Continue;
    default: return MessageBoxResult::Ok;
    }
}

// The console a message box of this thread belongs to: the active window when it is a
// console, else the first console shown.
HWND consoleForBox()
{
    HWND active = GetActiveWindow();
    if (isConsoleWindow(active))
        return active;
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND candidate, LPARAM result) -> BOOL {
        if (!IsWindowVisible(candidate) || !isConsoleWindow(candidate))
            return TRUE;
        *reinterpret_cast<HWND*>(result) = candidate;
        return FALSE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
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
    // The style word is MessageBox's own (icon, buttons, default button, modality and the rest),
    // passed on as it is. A box belongs to the console when there is one: it is modal to it,
    // and once it is answered Windows gives the console the keyboard again. A box without an
    // owner leaves it nowhere: the console, disabled by a task-modal box, is enabled only after
    // the box has gone, when the activation has found no window to go to, and Esc did nothing
    // until the administrator clicked the console. Before the console exists, a box is
    // task-modal, unless the caller asked for system-modal.
    UINT flags = style.word;
    HWND owner = consoleForBox();
    if (!owner && !(flags & MB_SYSTEMMODAL))
        flags |= MB_TASKMODAL;
    return resultOf(MessageBoxW(owner, cp936ToWide(text).c_str(), cp936ToWide(caption).c_str(), flags));
}
