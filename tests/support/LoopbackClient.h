// One chat client on the loopback interface, for every suite that talks to a server over TCP:
// the in-process suites, whose server runs on the test's own thread and must never be waited
// on, and the end-to-end and stress suites, which run the built program. The socket does not
// block and every wait has a bound, so a silent server makes a test fail instead of hang.
// Bytes that have arrived but that no read has taken yet are kept for the next read.
#pragma once

#include "support/TestSockets.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace test_support {

inline constexpr uint32_t kLoopbackHost = 0x7f000001; // 127.0.0.1

// How a client connects; LoopbackClient::ConnectOptions. Outside the class so that it can be
// a default argument of the class's own members.
struct LoopbackConnectOptions {
    // Local ports not to connect from, so that a test can be sure to come back under a new
    // address.
    std::set<uint16_t> avoidPorts {};
    // The local port to connect from; 0 leaves the choice to the kernel.
    uint16_t localPort = 0;
    // SO_REUSEADDR before binding: two clients so marked may share a local port when they
    // connect to two different server ports, as the kernel may arrange by itself.
    bool reuseAddress = false;
    // Above 0: the socket's receive buffer, set before connecting, for a client whose
    // connection is to fill up soon.
    int receiveBuffer = 0;
    // Another loopback address (127.x.y.z) to connect from, for a test that goes through
    // thousands of connections without using up the ports of 127.0.0.1.
    uint32_t sourceHost = kLoopbackHost;
    // Join as a browser does, through the web entrance on the port given: the WebSocket
    // handshake first, then every send goes out as binary frames, and reads give the bytes of
    // the server's frames (relayed bytes as they are, the server's own texts converted back
    // from UTF-8 to code page 936), so that a test reads the same bytes as from a TCP client.
    bool webSocket = false;
    // For a web client: the subprotocol to ask for (a page of the format of version 2 asks
    // for "chatroom.v2"), and a query to add to "/ws" ("?session=...&after=...").
    std::string webProtocol {};
    std::string webQuery {};
};

class LoopbackClient {
public:
    using ConnectOptions = LoopbackConnectOptions;

    // How long a call waits for the other end unless told otherwise.
    static constexpr int kDefaultWaitMs = 10000;

    LoopbackClient() = default;
    // Connects at once (see connect).
    explicit LoopbackClient(uint16_t port, const ConnectOptions& options = {});
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Connects to 127.0.0.1:`port` and returns once the kernel has completed the connection,
    // which it does before the server accepts it. Throws when the connection cannot be made.
    void connect(uint16_t port, const ConnectOptions& options = {});
    // The same, but a connection refused or not completed in time is false, not an error.
    bool tryConnect(uint16_t port, const ConnectOptions& options = {});
    // Closes the connection gracefully; the server sees this client leave.
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

    // Hands every byte to the connection, waiting whenever the socket is full. Throws when the
    // connection fails or takes nothing for the default wait. Safe to call from a second
    // thread while the first one reads.
    void send(std::string_view bytes);
    // The same, with false instead of an exception.
    bool trySend(std::string_view bytes);
    // A client joined through the web entrance: sends UTF-8 in one text frame, as a page does.
    void sendText(std::string_view utf8);

    // The next `count` bytes, or fewer when the stream ends or the wait runs out first.
    std::string readExactly(size_t count, int waitMs = kDefaultWaitMs);
    // Everything up to the end of the stream; hasEnded() tells whether the end came in time.
    std::string readToEnd(int waitMs = kDefaultWaitMs);
    // The bytes at hand, or else those of the first read within `waitMs`: empty only when
    // nothing came in time or the stream has ended. For a reader that keeps up with a stream.
    std::string readSome(int waitMs);

    // Takes in whatever has arrived, without waiting, and keeps it unread: for a test whose
    // server runs on the test's own thread.
    void receivePending();
    // What has arrived and no read has taken yet.
    const std::string& unread() const { return m_received; }

    // For a client joined through the web entrance: the server's own texts, as they came in
    // text frames (UTF-8), in order; and the status code of the server's close frame, 0 while
    // none has come.
    bool isWebClient() const { return m_webSocket; }
    const std::vector<std::string>& serverTexts() const { return m_serverTexts; }
    // The next of serverTexts() that this call has not returned yet, waiting for it; empty
    // when none came in time. With a subprotocol, every server frame is such a text, and
    // none is added to the bytes the reads give.
    std::string readServerText(int waitMs = kDefaultWaitMs);
    // The handshake's answer, with a subprotocol: the protocol the server chose (empty for none).
    const std::string& webProtocol() const { return m_webProtocol; }
    uint16_t closeCode() const { return m_closeCode; }

    // True once the stream has ended (orderly or by a reset).
    bool hasEnded() const { return m_ended; }
    // True when the stream ended with a reset rather than an orderly close.
    bool wasReset() const { return m_reset; }
    bool endedCleanly() const { return m_ended && !m_reset; }

private:
    // Opens the connection; the reason when the server could not be reached, else empty.
    // Throws for failures of this side (no socket, no local port).
    std::string openConnection(uint16_t port, const ConnectOptions& options);
    // The reason when the bytes could not all be handed over, else empty.
    std::string sendAll(std::string_view bytes);
    // Waits for one read until `deadline` (milliseconds of a steady clock); false when the
    // wait ran out or the stream has ended.
    bool receiveMore(int64_t deadline);
    std::string takeUnread(size_t count);
    std::string webHandshake(uint16_t port, const ConnectOptions& options);
    void takeFrames();

    SocketFd m_fd = -1;
    std::string m_address;
    uint16_t m_port = 0;
    std::string m_received;
    bool m_ended = false;
    bool m_reset = false;
    bool m_webSocket = false;
    std::string m_frames; // raw bytes of server frames not yet whole
    std::vector<std::string> m_serverTexts;
    size_t m_serverTextsRead = 0;
    std::string m_webProtocol;
    uint16_t m_closeCode = 0;
};

// The first `N` of `clients` as references, to unpack by name: auto [a, b] = byName<2>(clients).
template<size_t N>
auto byName(const std::vector<LoopbackClient*>& clients)
{
    return [&]<size_t... I>(std::index_sequence<I...>) { return std::tie(*clients[I]...); }(std::make_index_sequence<N>());
}

} // namespace test_support
