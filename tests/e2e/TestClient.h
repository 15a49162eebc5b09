// One chat client of the end-to-end tests: a TCP connection to 127.0.0.1:19730 that sends
// raw bytes and reads what the room sends back. Every read has a deadline, so a server that
// stays silent makes a test fail instead of hang; bytes read past what a call asked for are
// kept for the next call.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

class TestClient {
public:
    static constexpr int kDefaultWaitMs = 10000;

    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // Connects from a local port that is not in `avoidPorts` (so a test can be sure to come
    // back under a new address). A `receiveBuffer` above 0 sets the socket's receive buffer
    // before connecting, for a client whose connection is to fill up soon. `sourceHost` is
    // another loopback address (127.x.y.z) to connect from, for a test that goes through
    // thousands of connections without using up the ports of 127.0.0.1. Throws when the
    // connection cannot be made.
    void connect(const std::set<uint16_t>& avoidPorts = {}, int receiveBuffer = 0, uint32_t sourceHost = kLoopbackHost);
    static constexpr uint32_t kLoopbackHost = 0x7f000001;
    // Closes the connection gracefully; the room sees this client leave.
    void close();
    // Closes the connection with a reset (SO_LINGER 0) rather than a FIN.
    void resetConnection();
    // Half-closes the connection: the server reads the end of this client's stream, and this
    // client can still read what the server sends.
    void shutdownSending();
    bool isOpen() const { return m_fd >= 0; }

    // The address by which the server names this client: "127.0.0.1:<local port>".
    const std::string& address() const { return m_address; }
    uint16_t port() const { return m_port; }

    // Hands every byte to the connection, in one write as far as the socket takes it. Throws
    // when the connection fails or takes nothing for the default wait. Safe to call from a
    // second thread while the first one reads.
    void send(std::string_view bytes);

    // The next `count` bytes, or fewer when the stream ends or the wait runs out first.
    std::string readExactly(size_t count, int waitMs = kDefaultWaitMs);
    // Everything up to the end of the stream, and whether the end was seen within the wait.
    std::string readToEnd(bool& ended, int waitMs = kDefaultWaitMs);
    // Whatever arrives within `waitMs`; used where nothing at all may arrive.
    std::string readAvailable(int waitMs);
    // The bytes at hand, or else those of the first read within `waitMs`: empty only when
    // nothing came in time or the stream has ended. For a reader that keeps up with a stream.
    std::string readSome(int waitMs);
    // True once the stream has ended (orderly or by a reset).
    bool hasEnded() const { return m_ended; }
    // True when the stream ended with a reset rather than an orderly close.
    bool wasReset() const { return m_reset; }

private:
    // Waits for one read until `deadline` (milliseconds of CLOCK_MONOTONIC); false when the
    // wait ran out or the stream has ended.
    bool receiveMore(int64_t deadline);

    int m_fd = -1;
    std::string m_address;
    uint16_t m_port = 0;
    std::string m_received;
    bool m_ended = false;
    bool m_reset = false;
};
