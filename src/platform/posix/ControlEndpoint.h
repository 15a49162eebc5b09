// The room's control socket for the `admin` commands: a Unix domain socket in the user's
// private runtime directory (ControlPath.h), created at start and removed at exit, served on
// the window thread's loop like the room's own sockets. Only the room's user and root get
// their requests answered. A socket left behind by a room that crashed is replaced; when
// another running room of the same user owns the socket, this one says so on standard error
// and runs without one.
//
// Control connections are few and short, but the loop has no timers to end one that never
// speaks: at most kMaxControlConnections are kept, and a new one beyond that pushes out the
// oldest that is not being answered.
//
// The administrator is needed most when the room is under attack, which may have spent every
// descriptor the room gives its clients: the endpoint holds one descriptor of its own in
// reserve, and a control connection that finds none left takes that one's place. One such
// administrator at a time; another is told to try again.
#pragma once

#include "net/ReadinessWatcher.h"
#include "net/SocketOperations.h"
#include "platform/posix/ControlConnection.h"
#include "platform/posix/ControlPath.h"
#include "platform/posix/OwnedDescriptor.h"

#include <list>
#include <memory>
#include <vector>

class ControlEndpoint {
public:
    static constexpr size_t kMaxControlConnections = 8;

    ControlEndpoint(ReadinessWatcherFactory& watchers, ControlAnswers answers);
    // Closes every control connection and removes the socket.
    ~ControlEndpoint();
    ControlEndpoint(const ControlEndpoint&) = delete;
    ControlEndpoint& operator=(const ControlEndpoint&) = delete;

    bool listening() const { return m_listener.valid(); }

private:
    enum class Claim { Owned, Taken, Failed };

    // Holds the lock and listens, or says on standard error why not.
    void open();
    Claim takeLock(std::string& reason);
    Claim bindReplacingStale(std::string& reason);
    void onAcceptReady();
    // A connection that would take a descriptor the rest of the program needs, or that the full
    // table could not take, is served in the reserve's place; false when it was turned away.
    void admitOnReserve(OwnedSocket socket);
    // The table is full: gives the reserve up for one pending connection; false when there was
    // nothing to take (the reserve is held again then).
    bool acceptOnReserve();
    void retakeReserve();
    void admit(OwnedSocket socket, bool onReserve);
    // Drops the oldest connections that are not being answered until one more fits; false
    // when none can go.
    bool makeRoom();
    void retire(ControlConnection& connection);
    // Called with every connection that has ended.
    void released(const ControlConnection& connection);

    ReadinessWatcherFactory& m_watchers;
    ControlAnswers m_answers;
    ControlPaths m_paths;
    OwnedDescriptor m_lock;
    OwnedSocket m_listener;
    std::unique_ptr<ReadinessWatcher> m_listenWatcher;
    sockets::SpareHandle m_spare;
    // Held while no administrator needs it.
    OwnedDescriptor m_reserve;
    const ControlConnection* m_onReserve = nullptr;
    // Oldest first.
    std::list<std::unique_ptr<ControlConnection>> m_connections;
    // Ended, waiting to be destroyed outside their callbacks.
    std::vector<std::unique_ptr<ControlConnection>> m_retired;
};
