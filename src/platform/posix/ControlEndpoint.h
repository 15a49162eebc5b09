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
#pragma once

#include "net/ReadinessWatcher.h"
#include "net/SocketOperations.h"
#include "platform/posix/ControlConnection.h"
#include "platform/posix/ControlPath.h"

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
    void admit(OwnedSocket socket);
    // Drops the oldest connections that are not being answered until one more fits; false
    // when none can go.
    bool makeRoom();
    void retire(ControlConnection& connection);

    ReadinessWatcherFactory& m_watchers;
    ControlAnswers m_answers;
    ControlPaths m_paths;
    int m_lock = -1;
    OwnedSocket m_listener;
    std::unique_ptr<ReadinessWatcher> m_listenWatcher;
    sockets::SpareHandle m_spare;
    // Oldest first.
    std::list<std::unique_ptr<ControlConnection>> m_connections;
    // Ended, waiting to be destroyed outside their callbacks.
    std::vector<std::unique_ptr<ControlConnection>> m_retired;
};
