// The end-to-end tests' chat client (see TestClient.h).
#include "TestClient.h"

#include "ServerProcess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int64_t nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int remainingMs(int64_t deadline)
{
    int64_t left = deadline - nowMs();
    return left > 0 ? int(left) : 0;
}

std::runtime_error socketError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in loopback(uint16_t port, uint32_t host = INADDR_LOOPBACK)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

} // namespace

TestClient::~TestClient()
{
    close();
}

void TestClient::connect(const std::set<uint16_t>& avoidPorts, int receiveBuffer, uint32_t sourceHost)
{
    if ((sourceHost >> 24) != 127)
        throw std::logic_error("a test client connects from a loopback address only");
    if (isOpen())
        throw std::logic_error("the client is already connected");

    // A port is chosen at bind time, before any traffic: sockets bound to a port to avoid are
    // held until the end, so that the next bind cannot hand out the same port again.
    std::vector<int> rejected;
    int fd = -1;
    for (int attempt = 0; attempt < 50 && fd < 0; ++attempt) {
        int candidate = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (candidate < 0)
            throw socketError("socket");
        sockaddr_in local = loopback(0, sourceHost);
        socklen_t length = sizeof local;
        if (::bind(candidate, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0
            || ::getsockname(candidate, reinterpret_cast<sockaddr*>(&local), &length) < 0) {
            ::close(candidate);
            throw socketError("bind");
        }
        m_port = ntohs(local.sin_port);
        if (avoidPorts.count(m_port))
            rejected.push_back(candidate);
        else
            fd = candidate;
    }
    for (int held : rejected)
        ::close(held);
    if (fd < 0)
        throw std::runtime_error("no local port outside the ports to avoid");

    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in server = loopback(ServerProcess::kPort);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0 && errno != EINPROGRESS) {
        ::close(fd);
        throw socketError("connect to 127.0.0.1:19730");
    }
    pollfd waiting { fd, POLLOUT, 0 };
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::poll(&waiting, 1, kDefaultWaitMs) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) < 0
        || error != 0) {
        ::close(fd);
        errno = error ? error : ETIMEDOUT;
        throw socketError("connect to 127.0.0.1:19730");
    }
    m_fd = fd;
    char host[INET_ADDRSTRLEN] = {};
    in_addr source { htonl(sourceHost) };
    inet_ntop(AF_INET, &source, host, sizeof host);
    m_address = std::string(host) + ":" + std::to_string(m_port);
    m_received.clear();
    m_ended = false;
    m_reset = false;
}

void TestClient::close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

void TestClient::resetConnection()
{
    if (m_fd < 0)
        return;
    linger abort { 1, 0 };
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close();
}

void TestClient::shutdownSending()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

void TestClient::send(std::string_view bytes)
{
    if (!isOpen())
        throw std::logic_error("send on a closed client");
    int64_t deadline = nowMs() + kDefaultWaitMs;
    while (!bytes.empty()) {
        ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(size_t(sent));
            deadline = nowMs() + kDefaultWaitMs;
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            throw socketError("send from " + m_address);
        pollfd waiting { m_fd, POLLOUT, 0 };
        if (::poll(&waiting, 1, remainingMs(deadline)) == 0)
            throw std::runtime_error("send from " + m_address + ": the server took no data in time");
    }
}

bool TestClient::receiveMore(int64_t deadline)
{
    if (m_ended || !isOpen())
        return false;
    for (;;) {
        pollfd waiting { m_fd, POLLIN, 0 };
        int ready = ::poll(&waiting, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[65536];
        ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            m_received.append(buffer, size_t(got));
            return true;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        // End of stream, or a reset: nothing more will come either way.
        m_ended = true;
        m_reset = got < 0;
        return false;
    }
}

std::string TestClient::readExactly(size_t count, int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (m_received.size() < count && receiveMore(deadline)) { }
    size_t taken = std::min(count, m_received.size());
    std::string bytes = m_received.substr(0, taken);
    m_received.erase(0, taken);
    return bytes;
}

std::string TestClient::readToEnd(bool& ended, int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (receiveMore(deadline)) { }
    ended = m_ended;
    return std::exchange(m_received, {});
}

std::string TestClient::readAvailable(int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (receiveMore(deadline)) { }
    return std::exchange(m_received, {});
}

std::string TestClient::readSome(int waitMs)
{
    if (m_received.empty())
        receiveMore(nowMs() + waitMs);
    return std::exchange(m_received, {});
}
