// Turns of socket deliveries on the window thread, behind the window's input.
//
// Windows hands a thread its posted messages before its input (keyboard and mouse), its
// painting and its timers, and Winsock's readiness notices are posted messages. Were every
// notice to deliver at once, a client that always has data would keep the console's clicks
// and keys waiting for as long as it sends. So a notice only notes the socket's events and
// queues the socket once; the deliveries run in turns, each socket ready at a turn's start
// being served once per turn, in the order they became ready. A turn gives way, between two
// sockets, when input or painting waits (the sockets not yet served keep their place at the
// front), and the next turn is asked for with a timer rather than a posted message whenever
// input waits, since a timer comes after input. The round-end hooks run when a turn is over.
//
// The window also carries the alarms (Win32Alarms.h): those due run at the end of each turn,
// before the round-end hooks, and one whose timer comes runs as a round of its own.
#pragma once

#include "net/RoundEndHooks.h"
#include "platform/win32/Win32Alarms.h"

#include <winsock2.h>
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

// A socket that can be queued for a turn: told, when its turn comes, the events noted for it.
class PendingSocket {
public:
    virtual ~PendingSocket() = default;
    virtual void deliver(long events) = 0;

private:
    friend class Win32SocketTurns;
    long m_pendingEvents = 0;
    bool m_queued = false;
};

class Win32SocketTurns {
public:
    // `findSocket` names the pending socket of a Winsock notice (null: no longer watched);
    // `onRecheck` runs once on the timer armed by recheckSoon().
    Win32SocketTurns(std::function<std::shared_ptr<PendingSocket>(SOCKET)> findSocket, std::function<void()> onRecheck);
    ~Win32SocketTurns();
    Win32SocketTurns(const Win32SocketTurns&) = delete;
    Win32SocketTurns& operator=(const Win32SocketTurns&) = delete;

    // The window Winsock posts its notices to, as `socketMessage()`.
    HWND window() const { return m_window; }
    static UINT socketMessage();

    // Notes the events for the socket and queues it for the next turn, once.
    void note(const std::shared_ptr<PendingSocket>& socket, long events);
    // Asks for onRecheck in a short while (once, however often asked before it runs).
    void recheckSoon();
    RoundEndHooks& roundEndHooks() { return m_roundEndHooks; }
    Win32Alarms& alarms() { return *m_alarms; }

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void scheduleTurn();
    void runTurn();

    std::function<std::shared_ptr<PendingSocket>(SOCKET)> m_findSocket;
    std::function<void()> m_onRecheck;
    HWND m_window = nullptr;
    std::deque<std::weak_ptr<PendingSocket>> m_ready;
    RoundEndHooks m_roundEndHooks;
    std::optional<Win32Alarms> m_alarms;
    bool m_turnPosted = false;
    bool m_turnTimerSet = false;
    bool m_recheckTimerSet = false;
};
