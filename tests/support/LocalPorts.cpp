// Free and held ports for the in-process tests (see LocalPorts.h).
#include "support/LocalPorts.h"

#include <stdexcept>
#include <string>

#include "support/TestSockets.h"

namespace test_support {

namespace {

// Enough for the one connection a test may make to a held port.
constexpr int kHolderBacklog = 4;

// A socket bound to a port of the kernel's choosing on every address; throws when it cannot
// be had. `port` receives the port.
SocketFd boundSocket(int& port)
{
    SocketFd fd = openStreamSocket();
    if (fd < 0)
        throw std::runtime_error("cannot open a probe socket");
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeSocket(fd);
        throw std::runtime_error("cannot bind a probe socket");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int freeTcpPort()
{
    int port = 0;
    closeSocket(boundSocket(port));
    return port;
}

PortHolder::PortHolder()
{
    m_fd = boundSocket(m_port);
    if (::listen(m_fd, kHolderBacklog) != 0) {
        closeSocket(m_fd);
        throw std::runtime_error("cannot listen on the held port " + std::to_string(m_port));
    }
}

PortHolder::~PortHolder()
{
    closeSocket(m_fd);
}

} // namespace test_support
