// The admin command's connection to the room (see ControlClient.h).
#include "platform/posix/ControlClient.h"

#include "platform/posix/ControlPath.h"
#include "platform/posix/PosixSocketHandle.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A room answers at once; one that does not within this long is stuck (or stopped).
constexpr time_t kAnswerWaitSeconds = 30;
// Far above the list of any room this machine could hold; a peer that sends more is no room.
constexpr size_t kMaxAnswerBytes = 64 * 1024 * 1024;
constexpr size_t kReadChunk = 64 * 1024;

ControlExchange outcome(ControlExchange::Outcome kind, std::string detail)
{
    ControlExchange exchange;
    exchange.outcome = kind;
    exchange.detail = std::move(detail);
    return exchange;
}

ControlExchange failedConnect(const std::string& path, int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED: // a socket left behind by a room that crashed
        return outcome(ControlExchange::Outcome::NoServer, "nothing listens on " + path);
    case EACCES:
    case EPERM:
        return outcome(ControlExchange::Outcome::Refused, "cannot reach " + path + " (" + std::strerror(error) + ")");
    default:
        return outcome(ControlExchange::Outcome::Failed, "cannot connect to " + path + ": " + std::strerror(error));
    }
}

// Only a room of this very user is believed, root's command included: a room of anybody else
// could answer with a forged roster or claim actions it never did.
bool roomIsOurs(int fd, uid_t& roomUid)
{
    ucred room {};
    socklen_t length = sizeof room;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &room, &length) != 0)
        return false;
    roomUid = room.uid;
    return room.uid == geteuid();
}

void setWaitLimits(int fd)
{
    timeval wait { kAnswerWaitSeconds, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

} // namespace

ControlExchange exchangeControlRequest(std::string_view requestLine)
{
    const ControlPaths paths = controlPaths();
    const std::string& path = paths.socket;
    // The directory is checked before anything in it is believed: another user may have planted
    // it (or a link to one of theirs) where this user's room would be.
    std::string unsafe;
    bool missing = false;
    if (!controlDirectoryIsPrivate(paths.directory, unsafe, missing)) {
        if (missing)
            return outcome(ControlExchange::Outcome::NoServer, "nothing listens on " + path);
        return outcome(ControlExchange::Outcome::Refused, unsafe);
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return outcome(ControlExchange::Outcome::Failed, path + " is too long for a socket's path");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    OwnedSocket connection(toSocketHandle(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)));
    if (!connection)
        return outcome(ControlExchange::Outcome::Failed, std::string("cannot make a socket: ") + std::strerror(errno));
    int fd = descriptorOf(connection.get());
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return failedConnect(path, errno);
    uid_t roomUid = 0;
    if (!roomIsOurs(fd, roomUid))
        return outcome(ControlExchange::Outcome::Refused, path + " is served by uid " + std::to_string(roomUid)
            + ", not by this user (uid " + std::to_string(geteuid()) + ")");
    setWaitLimits(fd);
    // A room that refuses this user answers before it reads anything, and closes; the answer
    // is still there to read.
    int sendError = sendAll(fd, requestLine) ? 0 : errno;

    ControlExchange exchange;
    char chunk[kReadChunk];
    for (;;) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            exchange.answer.append(chunk, static_cast<size_t>(got));
            if (exchange.answer.size() > kMaxAnswerBytes)
                return outcome(ControlExchange::Outcome::Failed, "the answer from " + path + " does not end");
            continue;
        }
        if (got == 0) {
            if (exchange.answer.empty() && sendError != 0)
                return outcome(ControlExchange::Outcome::Failed, "the room at " + path + " did not take the request: " + std::strerror(sendError));
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return outcome(ControlExchange::Outcome::Failed, "no answer from the room at " + path + " within "
                + std::to_string(kAnswerWaitSeconds) + " seconds");
        // A reset after the answer still leaves the answer; whether it is whole is read from it.
        break;
    }
    exchange.outcome = ControlExchange::Outcome::Answered;
    return exchange;
}

ControlTransport posixControlTransport()
{
    return { exchangeControlRequest, describeControlSocket() };
}
