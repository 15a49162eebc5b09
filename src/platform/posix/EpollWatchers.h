// Socket readiness for many sockets through one epoll set, so that a window system's loop
// watches a single descriptor however many clients there are: waking up then costs the
// sockets that are ready, not every socket watched. A toolkit's loop calls dispatch() whenever
// descriptor() is readable; a loop of its own calls dispatch() with a time limit, which waits
// in the same call that collects the ready sockets. dispatch() runs the callbacks of the
// ready, enabled watchers one after the other.
//
// The semantics are those of net/ReadinessWatcher.h: level-triggered; one callback at a time;
// a callback may run a nested loop that calls dispatch() again, which then serves the other
// sockets; a watcher may be destroyed inside any callback, its own included; a disabled
// watcher is never called.
//
// Turning a watcher off and on again is only a flag while its socket stays quiet: the server
// component does that around every event it raises. The set learns of a disabled watcher when
// its socket is reported ready and its callback is not called: only then is the interest
// taken out (so that a nested loop does not spin on it), and put back when it is enabled.
//
// A dispatch that found sockets ready is a round: the round-end hooks run at its end. Alarms
// are a timerfd in the same set (TimerfdAlarms), so a loop waiting on the set wakes for them.
#pragma once

#include "net/ReadinessWatcher.h"
#include "net/RoundEndHooks.h"
#include "platform/posix/OwnedDescriptor.h"
#include "platform/posix/TimerfdAlarms.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class EpollWatchers final : public ReadinessWatcherFactory {
public:
    EpollWatchers();
    EpollWatchers(const EpollWatchers&) = delete;
    EpollWatchers& operator=(const EpollWatchers&) = delete;

    // False when the system gave no epoll set (out of descriptors or memory at start).
    bool valid() const { return m_epoll.valid(); }
    // Readable while some enabled watcher's socket is ready.
    int descriptor() const { return m_epoll.get(); }
    // Runs the callbacks of the watchers whose sockets are ready, waiting at most `timeoutMs`
    // (-1: until one is) for the first; by default it only looks.
    void dispatch(int timeoutMs = 0);

    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<RoundEndHook> afterEachRound(std::function<void()> onRoundEnd) override;
    std::unique_ptr<Alarm> wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue) override;

private:
    struct Entry;
    class Watcher;
    // What the set knows of one descriptor: its watchers for reading and for writing (at most
    // one each, not owned: an entry is owned by its watcher and by its running callbacks), and
    // the interest the kernel has for it.
    struct Registration {
        Entry* reader = nullptr;
        Entry* writer = nullptr;
        uint32_t interest = 0;
        // Counts the descriptor's additions to the set: an event collected before the
        // descriptor was closed and its number reused carries an older count, and is dropped.
        uint32_t generation = 0;
    };

    std::unique_ptr<ReadinessWatcher> watch(SocketHandle socket, uint32_t kind, std::function<void()> onReady);
    void setEnabled(Entry& entry, bool enabled);
    void release(Entry& entry);
    void attach(Entry& entry);
    void detach(Entry& entry);
    Registration& registrationOf(int fd);
    uint32_t wantedInterest(const Registration& registration) const;
    void setInterest(int fd, uint32_t interest, bool resync);
    void handleEvent(uint64_t key, uint32_t events, uint64_t batch);
    void call(Entry& entry, uint64_t batch);

    OwnedDescriptor m_epoll;
    std::vector<Registration> m_registrations; // by descriptor
    uint64_t m_batch = 0; // numbers the dispatches, nested ones included
    RoundEndHooks m_roundEndHooks;
    // Made with the set; destroyed before it, whose watcher it holds.
    std::unique_ptr<TimerfdAlarms> m_alarms;
};
