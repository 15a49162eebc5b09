// Turns of socket deliveries behind the window's input (see Win32SocketTurns.h).
#include "platform/win32/Win32SocketTurns.h"
#include "platform/win32/Win32WindowProcedure.h"

#include "platform/win32/WinsockSession.h"

namespace {

// Winsock's notice, and the posted request for a turn.
constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT kTurnMessage = WM_APP + 2;
// The timer that asks for a turn once the input has been handled, and the recheck's.
constexpr UINT_PTR kTurnTimer = 1;
constexpr UINT_PTR kRecheckTimer = 2;
constexpr UINT kRecheckDelayMs = 50;
constexpr wchar_t kWindowClass[] = L"ChatroomSocketTurns";

// What a turn gives way to: the user's input and the windows' painting. Windows hands these
// out only when no posted message waits ("If no posted message is found, [the system] checks
// the queue for messages posted by the user-input system", GetMessage's order), so a socket
// that is always ready must leave them room itself. Wine shows the same order.
bool windowWorkWaits()
{
    return HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_HOTKEY)) != 0;
}

void registerWindowClass(WNDPROC procedure)
{
    static const bool registered = [procedure] {
        WNDCLASSW windowClass {};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
}

} // namespace

Win32SocketTurns::Win32SocketTurns(std::function<std::shared_ptr<PendingSocket>(SOCKET)> findSocket, std::function<void()> onRecheck)
    : m_findSocket(std::move(findSocket))
    , m_onRecheck(std::move(onRecheck))
{
    ensureWinsock();
    registerWindowClass(&Win32SocketTurns::windowProcedure);
    // A message-only window of the window thread: never shown.
    m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
    m_alarms.emplace(m_window);
}

Win32SocketTurns::~Win32SocketTurns()
{
    m_alarms.reset();
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

UINT Win32SocketTurns::socketMessage() { return kSocketMessage; }

void Win32SocketTurns::note(const std::shared_ptr<PendingSocket>& socket, long events)
{
    socket->m_pendingEvents |= events;
    if (!socket->m_queued) {
        socket->m_queued = true;
        m_ready.push_back(socket);
    }
    scheduleTurn();
}

// A turn is asked for once. A posted message is the quick way; a timer is the way behind the
// window's input, and also the way that needs no room in the message queue, which Windows
// caps ("There is a limit of 10,000 posted messages per message queue", PostMessage): a post
// that fails is never lost, the timer stands in for it. "The WM_TIMER message is a
// low-priority message. The GetMessage and PeekMessage functions post this message only when
// no other higher-priority messages are in the thread's message queue" (WM_TIMER).
void Win32SocketTurns::scheduleTurn()
{
    if (m_turnPosted || m_turnTimerSet)
        return;
    if (!windowWorkWaits() && PostMessageW(m_window, kTurnMessage, 0, 0)) {
        m_turnPosted = true;
        return;
    }
    m_turnTimerSet = SetTimer(m_window, kTurnTimer, USER_TIMER_MINIMUM, nullptr) != 0;
}

void Win32SocketTurns::recheckSoon()
{
    if (!m_recheckTimerSet)
        m_recheckTimerSet = SetTimer(m_window, kRecheckTimer, kRecheckDelayMs, nullptr) != 0;
}

// Serves the sockets queued at the turn's start, each once, in order. A callback may run a
// nested loop (a message box) that runs turns of its own from the same queue; each socket is
// still served once. The next turn is asked for first, so that such a nested loop also ends
// its round and writes what this one's callbacks sent.
void Win32SocketTurns::runTurn()
{
    if (m_turnTimerSet)
        KillTimer(m_window, kTurnTimer);
    m_turnTimerSet = false;
    m_turnPosted = false;
    size_t count = m_ready.size();
    if (count > 0)
        scheduleTurn();
    for (size_t served = 0; served < count && !m_ready.empty(); ++served) {
        if (served > 0 && windowWorkWaits())
            break;
        std::shared_ptr<PendingSocket> socket = m_ready.front().lock();
        m_ready.pop_front();
        if (!socket)
            continue;
        long events = socket->m_pendingEvents;
        socket->m_pendingEvents = 0;
        socket->m_queued = false;
        socket->deliver(events);
    }
    m_alarms->runDue();
    m_roundEndHooks.run();
    if (!m_ready.empty())
        scheduleTurn();
}

LRESULT CALLBACK Win32SocketTurns::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return forwardToOwner<Win32SocketTurns, &Win32SocketTurns::m_window, &Win32SocketTurns::handle>(window, message, wParam, lParam);
}

LRESULT Win32SocketTurns::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kSocketMessage:
        if (std::shared_ptr<PendingSocket> socket = m_findSocket(static_cast<SOCKET>(wParam)))
            note(socket, WSAGETSELECTEVENT(lParam));
        return 0;
    case kTurnMessage:
        runTurn();
        return 0;
    case WM_TIMER:
        if (wParam == kTurnTimer) {
            runTurn();
            return 0;
        }
        if (wParam == kRecheckTimer) {
            KillTimer(m_window, kRecheckTimer);
            m_recheckTimerSet = false;
            m_onRecheck();
            return 0;
        }
        if (Win32Alarms::isAlarmTimer(wParam)) {
            m_alarms->onTimer(wParam);
            m_roundEndHooks.run();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}
