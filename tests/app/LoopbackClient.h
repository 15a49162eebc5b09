// A chat client on 127.0.0.1 for the in-process service tests. The server runs on the test's
// own thread, so the client never blocks on reading: it collects whatever has arrived while
// the test pumps the event loop, and notes how the stream ended.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

namespace app_test {

class LoopbackClient {
public:
    explicit LoopbackClient(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            throw std::runtime_error("socket failed");
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        // The kernel completes a loopback connection before the server accepts it.
        if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the console's server");
        sockaddr_in local {};
        socklen_t length = sizeof local;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        m_address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
        fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~LoopbackClient() { closeNow(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // The client address under which the server names this client.
    const std::string& address() const { return m_address; }

    // Sends everything, waiting a bounded time whenever the socket is full.
    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<size_t>(sent));
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            pollfd writable { m_fd, POLLOUT, 0 };
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && poll(&writable, 1, 5000) > 0)
                continue;
            return false;
        }
        return true;
    }

    // Takes in whatever has arrived, without waiting.
    void drain()
    {
        if (m_fd < 0 || m_ended)
            return;
        char buffer[16 * 1024];
        for (;;) {
            ssize_t got = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) {
                m_received.append(buffer, static_cast<size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            m_ended = true;
            m_endedByReset = got < 0;
            return;
        }
    }

    const std::string& received() const { return m_received; }
    // True once the stream has ended; by a reset when endedByReset().
    bool ended() const { return m_ended; }
    bool endedByReset() const { return m_endedByReset; }

    void closeNow()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    std::string m_address;
    std::string m_received;
    bool m_ended = false;
    bool m_endedByReset = false;
};

} // namespace app_test
