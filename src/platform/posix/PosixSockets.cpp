// The server component's socket calls on non-blocking POSIX sockets (see net/SocketOperations.h).
#include "net/SocketOperations.h"

#include "platform/posix/PosixSocketHandle.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What discardInput reads per call.
constexpr size_t kDiscardChunk = 64 * 1024;
// What the kernel may hold of a client's stream beyond what is on its way. Without a bound
// the kernel grows a connection's buffer to megabytes, and a message sent to a thousand
// clients that never read is copied into every one of those buffers, holding up the loop for
// seconds; with it the rest waits in the client's queue, one copy shared by all of them. A
// reader is refilled as it takes data, so this costs it nothing.
constexpr int kUnsentLimit = 32 * 1024;
// The most descriptors kept free for the rest of the program, and the share of the limit
// that caps it when the limit is small.
constexpr rlim_t kReservedDescriptors = 64;
constexpr rlim_t kReservedShareDivisor = 4;

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// A shortage of kernel memory is not the peer's doing: it is treated as "try again later".
bool isTransientShortage(int error) { return error == ENOMEM || error == ENOBUFS; }

// The client address: dotted-decimal IPv4 address, a colon, the decimal port.
std::string addressText(const sockaddr_in& peer)
{
    char host[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host))
        return {};
    return std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
}

// The reason for the administrator, in English whatever the locale: it goes into the program's
// own code page 936 messages, where a localized text (UTF-8 or another code set) would come out
// garbled.
std::string errorText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? text : "error " + std::to_string(error);
}

int openSpareDescriptor() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

// The lowest descriptor number a client may not have.
int clientDescriptorCeiling()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    rlim_t reserve = std::min<rlim_t>(kReservedDescriptors, limit.rlim_cur / kReservedShareDivisor);
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur - reserve, INT_MAX));
}

} // namespace

int firstReservedDescriptor() { return clientDescriptorCeiling(); }

void closeSocketHandle(SocketHandle socket)
{
    close(descriptorOf(socket));
}

namespace sockets {

OwnedSocket openListener(uint16_t port, std::string& reason)
{
    OwnedSocket listener(toSocketHandle(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
    if (!listener) {
        reason = errorText(errno);
        return {};
    }
    int fd = descriptorOf(listener.get());
    // Lets a restarted server bind while old connections sit in TIME_WAIT; it never lets
    // two listeners share the port.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, SOMAXCONN) != 0) {
        reason = errorText(errno);
        return {};
    }
    return listener;
}

Accepted acceptConnection(SocketHandle listener)
{
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    int fd = accept4(descriptorOf(listener), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    Accepted accepted;
    if (fd < 0) {
        int error = errno;
        if (wouldBlock(error) || isTransientShortage(error))
            accepted.outcome = AcceptOutcome::NoneWaiting;
        else if (error == EMFILE || error == ENFILE)
            accepted.outcome = AcceptOutcome::OutOfHandles;
        else
            accepted.outcome = AcceptOutcome::Failed; // aborted, network down: that one connection
        return accepted;
    }
    accepted.outcome = AcceptOutcome::Accepted;
    accepted.socket = OwnedSocket(toSocketHandle(fd));
    if (length <= sizeof peer && peer.sin_family == AF_INET) {
        accepted.address = addressText(peer);
        setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentLimit, sizeof kUnsentLimit);
    }
    return accepted;
}

IoResult receiveBytes(SocketHandle socket, char* buffer, size_t size)
{
    for (;;) {
        ssize_t got = recv(descriptorOf(socket), buffer, size, 0);
        if (got > 0)
            return { IoOutcome::Transferred, static_cast<size_t>(got) };
        if (got == 0)
            return { IoOutcome::Ended };
        if (errno == EINTR)
            continue;
        return { wouldBlock(errno) || isTransientShortage(errno) ? IoOutcome::WouldBlock : IoOutcome::Failed };
    }
}

IoResult sendBytes(SocketHandle socket, const char* data, size_t size)
{
    for (;;) {
        ssize_t taken = send(descriptorOf(socket), data, size, MSG_NOSIGNAL);
        if (taken > 0)
            return { IoOutcome::Transferred, static_cast<size_t>(taken) };
        if (taken < 0 && errno == EINTR)
            continue;
        if (taken == 0 || wouldBlock(errno) || isTransientShortage(errno))
            return { IoOutcome::WouldBlock };
        return { IoOutcome::Failed };
    }
}

void liftUnsentLimit(SocketHandle socket)
{
    // 0 is the system's default: no limit of the connection's own.
    int systemDefault = 0;
    setsockopt(descriptorOf(socket), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &systemDefault, sizeof systemDefault);
}

void discardInput(SocketHandle socket, size_t limit)
{
    char sink[kDiscardChunk];
    size_t dropped = 0;
    while (dropped < limit) {
        ssize_t got = recv(descriptorOf(socket), sink, sizeof sink, 0);
        if (got > 0) {
            dropped += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return;
    }
}

bool peerHasEnded(SocketHandle socket)
{
    pollfd entry { descriptorOf(socket), POLLRDHUP, 0 };
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

std::vector<bool> waitUntilWritable(std::span<const SocketHandle> sockets, int timeoutMs)
{
    std::vector<pollfd> entries;
    entries.reserve(sockets.size());
    for (SocketHandle socket : sockets)
        entries.push_back({ descriptorOf(socket), POLLOUT, 0 });
    int ready;
    do
        ready = poll(entries.data(), entries.size(), std::max(timeoutMs, 0));
    while (ready < 0 && errno == EINTR);
    std::vector<bool> writable(sockets.size(), false);
    for (size_t i = 0; ready > 0 && i < entries.size(); ++i)
        writable[i] = (entries[i].revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
    return writable;
}

bool takesReservedHandle(SocketHandle socket)
{
    return descriptorOf(socket) >= clientDescriptorCeiling();
}

SpareHandle::SpareHandle()
    : m_handle(static_cast<std::uintptr_t>(toSocketHandle(openSpareDescriptor())))
{
}

SpareHandle::~SpareHandle()
{
    if (held())
        close(descriptorOf(static_cast<SocketHandle>(m_handle)));
}

bool SpareHandle::held() const { return static_cast<SocketHandle>(m_handle) != kNoSocket; }

void SpareHandle::retake()
{
    if (!held())
        m_handle = static_cast<std::uintptr_t>(toSocketHandle(openSpareDescriptor()));
}

bool SpareHandle::dropPendingConnection(SocketHandle listener)
{
    if (!held())
        return false;
    close(descriptorOf(static_cast<SocketHandle>(m_handle)));
    m_handle = static_cast<std::uintptr_t>(kNoSocket);
    int fd = accept4(descriptorOf(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        close(fd);
    retake();
    return fd >= 0;
}

} // namespace sockets
