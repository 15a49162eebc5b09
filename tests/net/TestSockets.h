// Plain blocking sockets on 127.0.0.1 for the network tests: a free port, a port held by
// someone else, and a chat client. Every blocking call has a timeout, so no test can hang.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

namespace net_test {

constexpr int kIoTimeoutSeconds = 20;

inline sockaddr_in loopbackAddress(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

inline int boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("getsockname failed");
    return ntohs(address.sin_port);
}

// A port that nobody listens on right now: bound by a probe socket, read back, released.
inline int freeTcpPort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind a probe socket");
    int port = boundPort(fd);
    close(fd);
    return port;
}

// Another program's listener on a port, held while the object lives.
class PortHolder {
public:
    PortHolder()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress(0);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(m_fd, 4) != 0)
            throw std::runtime_error("cannot hold a port");
        m_port = boundPort(m_fd);
    }
    ~PortHolder() { close(m_fd); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A chat client: connects at construction (the kernel completes the connection before the
// server accepts it), sends and reads with timeouts.
class TestClient {
public:
    explicit TestClient(int port, int receiveBuffer = 0)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            throw std::runtime_error("socket failed");
        timeval timeout { kIoTimeoutSeconds, 0 };
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (receiveBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address = loopbackAddress(port);
        m_connected = connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (m_connected)
            m_address = "127.0.0.1:" + std::to_string(boundPort(m_fd));
    }
    ~TestClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return m_connected; }
    // The client address under which the server names this client.
    const std::string& address() const { return m_address; }

    bool sendAll(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }

    // Reads until `count` bytes have come, the stream ends or the timeout passes.
    std::string read(size_t count)
    {
        std::string bytes;
        char buffer[64 * 1024];
        while (bytes.size() < count) {
            ssize_t got = recv(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                noteEnd(got);
                break;
            }
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }

    // Reads until the stream ends (or fails, or times out).
    std::string readToEnd()
    {
        std::string bytes;
        char buffer[64 * 1024];
        for (;;) {
            ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                noteEnd(got);
                return bytes;
            }
            bytes.append(buffer, static_cast<size_t>(got));
        }
    }

    // How the last read that found no data ended.
    enum class End { None, Clean, Reset, Timeout, OtherError };
    End end() const { return m_end; }

    void shutdownWrite() { shutdown(m_fd, SHUT_WR); }

    // Closes with a reset instead of the orderly end.
    void reset()
    {
        linger hard { 1, 0 };
        setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(m_fd);
        m_fd = -1;
    }

    void closeNow()
    {
        close(m_fd);
        m_fd = -1;
    }

private:
    void noteEnd(ssize_t got)
    {
        if (got == 0)
            m_end = End::Clean;
        else if (errno == ECONNRESET)
            m_end = End::Reset;
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            m_end = End::Timeout;
        else
            m_end = End::OtherError;
    }

    int m_fd = -1;
    bool m_connected = false;
    std::string m_address;
    End m_end = End::None;
};

}
