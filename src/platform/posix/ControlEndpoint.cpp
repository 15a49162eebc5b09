// The room's control socket (see ControlEndpoint.h).
//
// Which room owns the socket is decided by a lock file beside it, held for as long as the
// room runs and released by the system when it ends, also by a crash. The room holding the
// lock replaces whatever socket it finds once it has seen that nothing listens there any
// more, so two rooms starting together can never take the socket from each other.
#include "platform/posix/ControlEndpoint.h"

#include "platform/posix/PosixSocketHandle.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr int kBacklog = 16;
// A stale socket is replaced once; something that comes back at once is not ours to fight.
constexpr int kBindAttempts = 2;
constexpr uid_t kRootUid = 0;
// The most a turned-away connection's request may be; more is not owed a clean close.
constexpr size_t kTurnedAwayDiscard = 64 * 1024;

// Placed among the descriptors the room keeps for itself, so that it costs no client a place.
int openReserveDescriptor()
{
    OwnedDescriptor opened(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!opened)
        return DescriptorTraits::none();
    int placed = fcntl(opened.get(), F_DUPFD_CLOEXEC, firstReservedDescriptor());
    return placed >= 0 ? placed : opened.release();
}

void report(const std::string& line)
{
    std::fprintf(stderr, "chatroom-server: %s\n", line.c_str());
}

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

enum class Occupant { Listening, Stale, Gone, NotASocket, Unknown };

// What sits at the socket's path: a live listener accepts or queues a connection; a socket
// whose room has ended refuses it.
Occupant probe(const std::string& path, const sockaddr_un& address)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0)
        return errno == ENOENT ? Occupant::Gone : Occupant::Unknown;
    if (!S_ISSOCK(status.st_mode))
        return Occupant::NotASocket;
    OwnedSocket probe(toSocketHandle(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
    if (!probe)
        return Occupant::Unknown;
    if (connect(descriptorOf(probe.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return Occupant::Listening;
    switch (errno) {
    case ECONNREFUSED: return Occupant::Stale;
    case EAGAIN: return Occupant::Listening; // alive, its queue full
    case ENOENT: return Occupant::Gone;
    default: return Occupant::Unknown;
    }
}

// Only the room's own user and root may control it.
bool peerMayControl(SocketHandle socket)
{
    ucred peer {};
    socklen_t length = sizeof peer;
    if (getsockopt(descriptorOf(socket), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return false;
    return peer.uid == geteuid() || peer.uid == kRootUid;
}

} // namespace

ControlEndpoint::ControlEndpoint(ReadinessWatcherFactory& watchers, ControlAnswers answers)
    : m_watchers(watchers)
    , m_answers(std::move(answers))
    , m_paths(controlPaths())
    , m_reserve(openReserveDescriptor())
{
    open();
}

ControlEndpoint::~ControlEndpoint()
{
    // Answers still being written get what the socket takes now.
    for (auto& connection : m_connections) {
        if (!connection->done())
            connection->abandon(ControlProblem::Closing);
    }
    m_connections.clear();
    m_retired.clear();
    m_listenWatcher.reset();
    if (m_listener) {
        m_listener.reset();
        // Still under the lock, so it is this room's socket that goes.
        unlink(m_paths.socket.c_str());
    }
}

void ControlEndpoint::open()
{
    std::string reason;
    if (!prepareControlDirectory(m_paths.directory, reason)) {
        report("no control socket for admin commands: " + reason);
        return;
    }
    Claim claim = takeLock(reason);
    if (claim == Claim::Owned)
        claim = bindReplacingStale(reason);
    if (claim == Claim::Taken) {
        report("another chatroom-server of this user owns the control socket " + m_paths.socket
            + "; admin commands reach that room, this one runs without them");
        return;
    }
    if (claim == Claim::Failed) {
        report("no control socket for admin commands: " + reason);
        return;
    }
    m_listenWatcher = m_watchers.watchReadable(m_listener.get(), [this] { onAcceptReady(); });
    m_listenWatcher->setEnabled(true);
}

ControlEndpoint::Claim ControlEndpoint::takeLock(std::string& reason)
{
    m_lock.reset(::open(m_paths.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile));
    if (!m_lock) {
        reason = "cannot open " + m_paths.lock + ": " + std::strerror(errno);
        return Claim::Failed;
    }
    if (flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0)
        return Claim::Owned;
    int error = errno;
    m_lock.reset();
    if (error == EWOULDBLOCK)
        return Claim::Taken;
    reason = "cannot lock " + m_paths.lock + ": " + std::strerror(error);
    return Claim::Failed;
}

ControlEndpoint::Claim ControlEndpoint::bindReplacingStale(std::string& reason)
{
    sockaddr_un address;
    if (!fillAddress(m_paths.socket, address)) {
        reason = m_paths.socket + " is too long for a socket's path";
        return Claim::Failed;
    }
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        OwnedSocket listener(toSocketHandle(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
        if (!listener) {
            reason = std::string("cannot make a socket: ") + std::strerror(errno);
            return Claim::Failed;
        }
        int fd = descriptorOf(listener.get());
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // The directory keeps everybody else out already; the mode says so as well.
            chmod(m_paths.socket.c_str(), kPrivateFile);
            if (listen(fd, kBacklog) != 0) {
                reason = "cannot listen on " + m_paths.socket + ": " + std::strerror(errno);
                unlink(m_paths.socket.c_str());
                return Claim::Failed;
            }
            m_listener = std::move(listener);
            return Claim::Owned;
        }
        if (errno != EADDRINUSE) {
            reason = "cannot bind " + m_paths.socket + ": " + std::strerror(errno);
            return Claim::Failed;
        }
        switch (probe(m_paths.socket, address)) {
        case Occupant::Listening:
            return Claim::Taken;
        case Occupant::Stale:
            // Left by a room that crashed.
            unlink(m_paths.socket.c_str());
            break;
        case Occupant::Gone:
            break;
        case Occupant::NotASocket:
            reason = m_paths.socket + " is in the way and is not a socket";
            return Claim::Failed;
        case Occupant::Unknown:
            reason = "cannot tell what holds " + m_paths.socket;
            return Claim::Failed;
        }
    }
    reason = m_paths.socket + " keeps coming back";
    return Claim::Failed;
}

void ControlEndpoint::onAcceptReady()
{
    // Connections that ended are destroyed here, outside their own callbacks; not while a
    // request is being answered, whose handlers may have brought this call about.
    if (std::none_of(m_connections.begin(), m_connections.end(), [](const auto& connection) { return connection->running(); }))
        m_retired.clear();
    for (size_t taken = 0; taken < kMaxControlConnections; ++taken) {
        sockets::Accepted accepted = sockets::acceptConnection(m_listener.get());
        switch (accepted.outcome) {
        case sockets::AcceptOutcome::NoneWaiting:
            return;
        case sockets::AcceptOutcome::OutOfHandles:
            if (acceptOnReserve())
                continue;
            // A level-triggered listener with a connection it cannot take would spin the loop.
            if (!m_spare.dropPendingConnection(m_listener.get()))
                m_listenWatcher->setEnabled(false);
            return;
        case sockets::AcceptOutcome::Failed:
            continue;
        case sockets::AcceptOutcome::Accepted:
            break;
        }
        // The handles the window system and the value store need are not spent on this.
        if (sockets::takesReservedHandle(accepted.socket.get()))
            admitOnReserve(std::move(accepted.socket));
        else
            admit(std::move(accepted.socket), false);
    }
}

void ControlEndpoint::admitOnReserve(OwnedSocket socket)
{
    if (!m_reserve) {
        // Somebody is on the reserve already: told, in what the socket takes now, and closed.
        std::string answer = m_answers.problem(ControlProblem::Crowded);
        sockets::sendBytes(socket.get(), answer.data(), answer.size());
        // A request left unread would make the close a reset, which destroys the answer.
        sockets::discardInput(socket.get(), kTurnedAwayDiscard);
        return;
    }
    // The connection moves into the reserve's place and frees its own: the descriptors the rest
    // of the program needs stay as many as before.
    if (dup3(descriptorOf(socket.get()), m_reserve.get(), O_CLOEXEC) < 0)
        return;
    socket = OwnedSocket(toSocketHandle(m_reserve.release()));
    admit(std::move(socket), true);
}

bool ControlEndpoint::acceptOnReserve()
{
    if (!m_reserve)
        return false;
    m_reserve.reset();
    sockets::Accepted accepted = sockets::acceptConnection(m_listener.get());
    if (accepted.outcome != sockets::AcceptOutcome::Accepted) {
        retakeReserve();
        return false;
    }
    admit(std::move(accepted.socket), true);
    return true;
}

void ControlEndpoint::retakeReserve()
{
    if (!m_reserve && !m_onReserve)
        m_reserve.reset(openReserveDescriptor());
}

void ControlEndpoint::admit(OwnedSocket socket, bool onReserve)
{
    if (!makeRoom()) {
        // Every slot is answering a request: the newcomer is closed.
        socket.reset();
        retakeReserve();
        return;
    }
    bool permitted = peerMayControl(socket.get());
    auto connection = std::make_unique<ControlConnection>(std::move(socket), m_watchers, m_answers,
        [this](ControlConnection& done) { retire(done); });
    ControlConnection& admitted = *connection;
    m_connections.push_back(std::move(connection));
    if (onReserve)
        m_onReserve = &admitted;
    // The connection may retire itself inside either call.
    if (permitted)
        admitted.start();
    else
        admitted.answerWithout(ControlProblem::NotPermitted);
}

bool ControlEndpoint::makeRoom()
{
    while (m_connections.size() >= kMaxControlConnections) {
        auto oldest = std::find_if(m_connections.begin(), m_connections.end(), [](const auto& connection) { return !connection->running(); });
        if (oldest == m_connections.end())
            return false;
        (*oldest)->abandon(ControlProblem::Dropped);
        released(**oldest);
        m_retired.push_back(std::move(*oldest));
        m_connections.erase(oldest);
    }
    return true;
}

void ControlEndpoint::retire(ControlConnection& connection)
{
    auto found = std::find_if(m_connections.begin(), m_connections.end(), [&](const auto& held) { return held.get() == &connection; });
    if (found == m_connections.end())
        return;
    m_retired.push_back(std::move(*found));
    m_connections.erase(found);
    released(connection);
    // A handle has come free: a listener paused for want of one may go on.
    m_spare.retake();
    if (m_listenWatcher)
        m_listenWatcher->setEnabled(true);
}

// The connection's socket is closed by now: the reserve is taken back into its place.
void ControlEndpoint::released(const ControlConnection& connection)
{
    if (&connection != m_onReserve)
        return;
    m_onReserve = nullptr;
    retakeReserve();
}
