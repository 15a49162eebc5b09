// Socket readiness on the window thread as window messages: WSAAsyncSelect posts a notice to
// a hidden message-only window whenever a watched socket becomes readable or writable, and
// the deliveries run in turns behind the window's input (Win32SocketTurns.h), also inside a
// nested loop (a message box, the pop-up menu).
//
// Winsock posts a notice once and again only after the call that re-enables it (recv, send,
// accept). The watcher interface is level-triggered, so a watcher that becomes enabled first
// asks the socket whether it is ready already and, if so, queues itself; a delivery for a
// disabled watcher is dropped, since enabling it again looks afresh. Winsock announces a
// writable socket only after a send that would block; a send refused for want of buffers
// (WSAENOBUFS) gets no notice, so an enabled writer is looked at again a little later.
//
// The factory owns every record, the turns, the round-end hooks and the alarms (Win32Alarms.h);
// its watchers and alarms must not outlive it.
#pragma once

#include "net/ReadinessWatcher.h"

#include <memory>

class Win32ReadinessWatcherFactory final : public ReadinessWatcherFactory {
public:
    Win32ReadinessWatcherFactory();
    ~Win32ReadinessWatcherFactory() override;
    Win32ReadinessWatcherFactory(const Win32ReadinessWatcherFactory&) = delete;
    Win32ReadinessWatcherFactory& operator=(const Win32ReadinessWatcherFactory&) = delete;

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override;
    std::unique_ptr<Alarm> wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue) override;

    class Records;

private:
    std::unique_ptr<Records> m_records;
};
