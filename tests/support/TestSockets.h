// The few socket calls in which the tests' own clients and probes differ between POSIX and
// Winsock, so that LoopbackClient and LocalPorts are written once for both: the descriptor
// type, closing, non-blocking mode, the last error and its words, and waiting on one socket.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace test_support {

#ifdef _WIN32
// A SOCKET as a signed number, so that the invalid one is -1 as on POSIX.
using SocketFd = std::intptr_t;
using socklen_t = int;
constexpr int kSendFlags = 0;
constexpr int kShutdownSending = SD_SEND;
constexpr int kSocketType = SOCK_STREAM;

inline SOCKET nativeSocket(SocketFd fd) { return static_cast<SOCKET>(fd); }

// Winsock must be started before the first socket; a test program starts it once.
inline SocketFd openStreamSocket()
{
    static const bool started = [] {
        WSADATA data {};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
    return static_cast<SocketFd>(::socket(AF_INET, kSocketType, IPPROTO_TCP));
}
inline void closeSocket(SocketFd fd) { ::closesocket(nativeSocket(fd)); }
inline void setNonBlocking(SocketFd fd)
{
    u_long on = 1;
    ::ioctlsocket(nativeSocket(fd), FIONBIO, &on);
}
inline int lastSocketError() { return WSAGetLastError(); }
inline bool isTransientError(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }
inline bool isConnectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
constexpr int kTimedOut = WSAETIMEDOUT;
inline std::string errorWords(int error) { return "Winsock error " + std::to_string(error); }
// Waits for `events` (POLLIN or POLLOUT) on one socket; the poll call's result.
inline int pollSocket(SocketFd fd, short events, int timeoutMs)
{
    WSAPOLLFD entry { nativeSocket(fd), static_cast<SHORT>(events == POLLIN ? POLLRDNORM : POLLWRNORM), 0 };
    return WSAPoll(&entry, 1, timeoutMs);
}
#else
using SocketFd = int;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutdownSending = SHUT_WR;

inline SocketFd openStreamSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
inline void closeSocket(SocketFd fd) { ::close(fd); }
inline void setNonBlocking(SocketFd fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }
inline int lastSocketError() { return errno; }
inline bool isTransientError(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
inline bool isConnectPending(int error) { return error == EINPROGRESS; }
constexpr int kTimedOut = ETIMEDOUT;
inline std::string errorWords(int error) { return std::strerror(error); }
inline int pollSocket(SocketFd fd, short events, int timeoutMs)
{
    pollfd entry { fd, events, 0 };
    return ::poll(&entry, 1, timeoutMs);
}
#endif

} // namespace test_support
