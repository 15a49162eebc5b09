// Socket readiness as window messages (see Win32ReadinessWatchers.h).
#include "platform/win32/Win32ReadinessWatchers.h"

#include "net/RoundEndHooks.h"
#include "platform/win32/WinsockSession.h"

#include <winsock2.h>
#include <windows.h>

#include <map>

namespace {

// Winsock's notification, the gathered delivery that follows it, and the end of a round.
constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT kDeliveryMessage = WM_APP + 2;
constexpr UINT kRoundEndMessage = WM_APP + 3;
constexpr long kReadEvents = FD_READ | FD_ACCEPT | FD_CLOSE;
constexpr long kWriteEvents = FD_WRITE | FD_CLOSE;
constexpr wchar_t kWindowClass[] = L"ChatroomSocketEvents";

enum class Direction { Read, Write };
class Win32ReadinessWatcher;

// The watchers of one socket; Winsock keeps one registration per socket, the union of theirs.
struct SocketWatch {
    SOCKET socket = INVALID_SOCKET;
    Win32ReadinessWatcher* reader = nullptr;
    Win32ReadinessWatcher* writer = nullptr;
    // The events noted since the last delivery, and whether a delivery is queued for them.
    long pendingEvents = 0;
    bool deliveryQueued = false;
};

HWND messageWindow();
std::map<SOCKET, std::shared_ptr<SocketWatch>>& watches()
{
    static std::map<SOCKET, std::shared_ptr<SocketWatch>> all;
    return all;
}

// A round is the deliveries queued before its end message: the first delivery after a round
// end posts the next one, behind the deliveries already waiting, so a round is bounded even
// while sockets keep posting (the message queue is first in, first out).
RoundEndHooks& roundEndHooks()
{
    static RoundEndHooks hooks;
    return hooks;
}
bool roundEndQueued = false;

void endRoundSoon()
{
    if (roundEndQueued)
        return;
    roundEndQueued = PostMessageW(messageWindow(), kRoundEndMessage, 0, 0);
    // A full message queue: the round ends now.
    if (!roundEndQueued)
        roundEndHooks().run();
}

class Win32ReadinessWatcher final : public ReadinessWatcher {
public:
    Win32ReadinessWatcher(SocketHandle socket, Direction direction, std::function<void()> onReady)
        : m_direction(direction)
        , m_onReady(std::move(onReady))
    {
        auto native = static_cast<SOCKET>(static_cast<std::uintptr_t>(socket));
        auto& slot = watches()[native];
        // A watcher of the same kind still registered belongs to a socket that was closed and
        // whose handle value Windows has given out again: this socket starts a fresh watch.
        if (!slot || mine(*slot) != nullptr)
            slot = std::make_shared<SocketWatch>(SocketWatch { native, nullptr, nullptr });
        m_watch = slot;
        mine(*m_watch) = this;
    }

    ~Win32ReadinessWatcher() override
    {
        if (mine(*m_watch) == this)
            mine(*m_watch) = nullptr;
        m_enabled = false;
        if (isCurrent())
            updateRegistration();
        auto found = watches().find(m_watch->socket);
        if (found != watches().end() && found->second == m_watch && !m_watch->reader && !m_watch->writer)
            watches().erase(found);
    }

    void setEnabled(bool enabled) override
    {
        if (enabled == m_enabled)
            return;
        m_enabled = enabled;
        if (!isCurrent())
            return;
        updateRegistration();
        if (enabled)
            postIfReady();
    }

    void deliver()
    {
        if (m_enabled && m_onReady)
            m_onReady();
    }

private:
    Win32ReadinessWatcher*& mine(SocketWatch& watch) const { return m_direction == Direction::Read ? watch.reader : watch.writer; }

    bool isCurrent() const
    {
        auto found = watches().find(m_watch->socket);
        return found != watches().end() && found->second == m_watch;
    }

    void updateRegistration()
    {
        long events = 0;
        if (m_watch->reader && m_watch->reader->m_enabled)
            events |= kReadEvents;
        if (m_watch->writer && m_watch->writer->m_enabled)
            events |= kWriteEvents;
        WSAAsyncSelect(m_watch->socket, messageWindow(), events ? kSocketMessage : 0, events);
    }

    // Level-triggered: readiness that came while the watcher was off is found by asking.
    void postIfReady()
    {
        WSAPOLLFD entry { m_watch->socket, static_cast<SHORT>(m_direction == Direction::Read ? POLLRDNORM : POLLWRNORM), 0 };
        if (WSAPoll(&entry, 1, 0) > 0 && entry.revents != 0) {
            long event = m_direction == Direction::Read ? FD_READ : FD_WRITE;
            PostMessageW(messageWindow(), kSocketMessage, static_cast<WPARAM>(m_watch->socket), WSAMAKESELECTREPLY(event, 0));
        }
    }

    Direction m_direction;
    std::function<void()> m_onReady;
    std::shared_ptr<SocketWatch> m_watch;
    bool m_enabled = false;
};

// Notes Winsock's events for the socket and queues one delivery for all that arrive before it.
void noteSocketEvents(SOCKET socket, long events)
{
    auto found = watches().find(socket);
    if (found == watches().end())
        return;
    SocketWatch& watch = *found->second;
    watch.pendingEvents |= events;
    if (!watch.deliveryQueued)
        watch.deliveryQueued = PostMessageW(messageWindow(), kDeliveryMessage, static_cast<WPARAM>(socket), 0);
}

void deliverSocketEvents(SOCKET socket)
{
    auto found = watches().find(socket);
    if (found == watches().end())
        return;
    // The callback may destroy the watchers (and the record); keep it while it runs.
    std::shared_ptr<SocketWatch> watch = found->second;
    long events = watch->pendingEvents;
    watch->pendingEvents = 0;
    watch->deliveryQueued = false;
    bool readable = events & (FD_READ | FD_ACCEPT | FD_CLOSE);
    bool writable = events & (FD_WRITE | FD_CLOSE);
    // Posted first, so that a nested loop inside a callback ends the round too; and again
    // after, when such a loop has ended it already and the callback sent more since (or the
    // queue was full, and the round ends here).
    endRoundSoon();
    if (readable && watch->reader)
        watch->reader->deliver();
    if (writable && watch->writer)
        watch->writer->deliver();
    endRoundSoon();
}

LRESULT CALLBACK socketWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kSocketMessage) {
        noteSocketEvents(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam));
        return 0;
    }
    if (message == kDeliveryMessage) {
        deliverSocketEvents(static_cast<SOCKET>(wParam));
        return 0;
    }
    if (message == kRoundEndMessage) {
        roundEndQueued = false;
        roundEndHooks().run();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window of the window thread: it is never shown and lives as long as the program.
HWND messageWindow()
{
    static HWND window = [] {
        ensureWinsock();
        WNDCLASSW windowClass {};
        windowClass.lpfnWndProc = socketWindowProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        RegisterClassW(&windowClass);
        return CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    }();
    return window;
}

} // namespace

std::unique_ptr<ReadinessWatcher> Win32ReadinessWatcherFactory::watchReadable(SocketHandle socket, std::function<void()> onReady)
{
    return std::make_unique<Win32ReadinessWatcher>(socket, Direction::Read, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> Win32ReadinessWatcherFactory::watchWritable(SocketHandle socket, std::function<void()> onReady)
{
    return std::make_unique<Win32ReadinessWatcher>(socket, Direction::Write, std::move(onReady));
}

std::unique_ptr<RoundEndHook> Win32ReadinessWatcherFactory::afterEachRound(std::function<void()> onRoundEnd)
{
    return roundEndHooks().add(std::move(onRoundEnd));
}
