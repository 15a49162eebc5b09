// The loopback chat client of the tests (see LoopbackClient.h).
#include "support/LoopbackClient.h"

#include "runtime/UniqueOwner.h"
#include "support/ClientFrames.h"
#include "support/TestSockets.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace test_support {

namespace {

// How many local ports to try before giving up on one outside the ports to avoid.
constexpr int kPortAttempts = 50;
// The most one read takes from the socket.
constexpr size_t kReadChunk = 64 * 1024;
// What one binary frame of a web client carries at most: well under the entrance's limit.
constexpr size_t kWebFramePayload = 32 * 1024;
constexpr uint8_t kTextOpcode = 0x1;
constexpr uint8_t kBinaryOpcode = 0x2;
constexpr uint8_t kCloseOpcode = 0x8;
// The most one send call hands over (Winsock counts in int).
constexpr size_t kMostPerSend = 1 << 30;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int remainingMs(int64_t deadline)
{
    int64_t left = deadline - nowMs();
    return left > 0 ? int(left) : 0;
}

std::string withReason(const std::string& what, int error)
{
    return what + ": " + errorWords(error);
}

sockaddr_in loopback(uint16_t port, uint32_t host)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

// A socket that closes itself unless it is handed on.
struct OpenSocketTraits {
    using Handle = SocketFd;
    static constexpr SocketFd none() { return -1; }
    static constexpr bool isHandle(SocketFd fd) { return fd >= 0; }
    static void close(SocketFd fd) { closeSocket(fd); }
};
using Descriptor = UniqueOwner<OpenSocketTraits>;

// The server's texts come as UTF-8 and were code page 936 on the server: back they go.
std::string utf8ToCp936(const std::string& utf8)
{
#ifdef _WIN32
    constexpr UINT kCodePage936 = 936;
    int wideCount = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(wideCount > 0 ? wideCount : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(), wideCount);
    int byteCount = WideCharToMultiByte(kCodePage936, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(byteCount > 0 ? byteCount : 0), '\0');
    WideCharToMultiByte(kCodePage936, 0, wide.data(), int(wide.size()), out.data(), byteCount, nullptr, nullptr);
    if (!utf8.empty() && out.empty())
        throw std::runtime_error("a text frame that is not code page 936 in UTF-8");
    return out;
#else
    iconv_t converter = ::iconv_open("CP936", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv has no CP936");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    size_t result = ::iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(converter);
    if (result == static_cast<size_t>(-1))
        throw std::runtime_error("a text frame that is not code page 936 in UTF-8");
    out.resize(out.size() - outLeft);
    return out;
#endif
}

} // namespace

LoopbackClient::LoopbackClient(uint16_t port, const ConnectOptions& options)
{
    connect(port, options);
}

LoopbackClient::~LoopbackClient()
{
    close();
}

void LoopbackClient::connect(uint16_t port, const ConnectOptions& options)
{
    std::string failure = openConnection(port, options);
    if (!failure.empty())
        throw std::runtime_error(failure);
}

bool LoopbackClient::tryConnect(uint16_t port, const ConnectOptions& options)
{
    return openConnection(port, options).empty();
}

std::string LoopbackClient::openConnection(uint16_t port, const ConnectOptions& options)
{
    if ((options.sourceHost >> 24) != 127)
        throw std::logic_error("a test client connects from a loopback address only");
    if (isOpen())
        throw std::logic_error("the client is already connected");

    // A port is chosen at bind time, before any traffic: sockets bound to a port to avoid are
    // held until the end, so that the next bind cannot hand out the same port again.
    std::vector<Descriptor> rejected;
    std::optional<Descriptor> chosen;
    uint16_t localPort = 0;
    for (int attempt = 0; attempt < kPortAttempts && !chosen; ++attempt) {
        Descriptor candidate(openStreamSocket());
        if (candidate.get() < 0)
            throw std::runtime_error(withReason("socket", lastSocketError()));
        const int reuse = 1;
        if (options.reuseAddress)
            ::setsockopt(candidate.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        sockaddr_in local = loopback(options.localPort, options.sourceHost);
        socklen_t length = sizeof local;
        if (::bind(candidate.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0
            || ::getsockname(candidate.get(), reinterpret_cast<sockaddr*>(&local), &length) < 0)
            throw std::runtime_error(withReason("bind to local port " + std::to_string(options.localPort), lastSocketError()));
        localPort = ntohs(local.sin_port);
        if (options.avoidPorts.count(localPort))
            rejected.push_back(std::move(candidate));
        else
            chosen.emplace(std::move(candidate));
    }
    if (!chosen)
        throw std::runtime_error("no local port outside the ports to avoid");

    SocketFd fd = chosen->get();
    if (options.receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&options.receiveBuffer), sizeof options.receiveBuffer);
    setNonBlocking(fd);
    const std::string target = "connect to 127.0.0.1:" + std::to_string(port);
    sockaddr_in server = loopback(port, kLoopbackHost);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0 && !isConnectPending(lastSocketError()))
        return withReason(target, lastSocketError());
    if (pollSocket(fd, POLLOUT, kDefaultWaitMs) != 1)
        return withReason(target, kTimedOut);
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &errorLength) < 0)
        return withReason(target, lastSocketError());
    if (error != 0)
        return withReason(target, error);

    m_fd = chosen->release();
    m_port = localPort;
    char host[INET_ADDRSTRLEN] = {};
    in_addr source {};
    source.s_addr = htonl(options.sourceHost);
    ::inet_ntop(AF_INET, &source, host, sizeof host);
    m_address = std::string(host) + ":" + std::to_string(m_port);
    m_received.clear();
    m_ended = false;
    m_reset = false;
    m_webSocket = false;
    m_frames.clear();
    m_serverTexts.clear();
    m_serverTextsRead = 0;
    m_webProtocol.clear();
    m_closeCode = 0;
    if (options.webSocket)
        return webHandshake(port, options);
    return {};
}

// The handshake of a program (no Origin); what follows the server's answer is frames.
std::string LoopbackClient::webHandshake(uint16_t port, const ConnectOptions& options)
{
    std::string protocol = options.webProtocol.empty() ? "" : "Sec-WebSocket-Protocol: " + options.webProtocol + "\r\n";
    std::string failure = sendAll("GET /ws" + options.webQuery + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" + protocol + "\r\n");
    if (!failure.empty())
        return failure;
    int64_t deadline = nowMs() + kDefaultWaitMs;
    size_t end = std::string::npos;
    while ((end = m_received.find("\r\n\r\n")) == std::string::npos && receiveMore(deadline)) { }
    if (end == std::string::npos || !m_received.starts_with("HTTP/1.1 101 "))
        return "the web entrance on port " + std::to_string(port) + " answered: " + m_received.substr(0, m_received.find('\r'));
    constexpr std::string_view kProtocolField = "\r\nSec-WebSocket-Protocol: ";
    if (size_t field = m_received.find(kProtocolField); field != std::string::npos && field < end) {
        size_t value = field + kProtocolField.size();
        m_webProtocol = m_received.substr(value, m_received.find("\r\n", value) - value);
    }
    m_frames = m_received.substr(end + 4);
    m_received.clear();
    m_webSocket = true;
    takeFrames();
    return {};
}

// Whole frames go from m_frames to what the test reads.
void LoopbackClient::takeFrames()
{
    size_t used = 0;
    while (std::optional<ServerFrame> frame = readServerFrame(std::string_view(m_frames).substr(used))) {
        used += frame->size;
        if (frame->opcode == kBinaryOpcode) {
            m_received += frame->payload;
        } else if (frame->opcode == kTextOpcode) {
            if (m_webProtocol.empty())
                m_received += utf8ToCp936(frame->payload);
            m_serverTexts.push_back(std::move(frame->payload));
        } else if (frame->opcode == kCloseOpcode) {
            m_closeCode = frame->closeCode();
        }
    }
    m_frames.erase(0, used);
}

std::string LoopbackClient::readServerText(int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (m_serverTextsRead == m_serverTexts.size() && receiveMore(deadline)) { }
    if (m_serverTextsRead == m_serverTexts.size())
        return {};
    return m_serverTexts[m_serverTextsRead++];
}

void LoopbackClient::close()
{
    if (m_fd < 0)
        return;
    closeSocket(m_fd);
    m_fd = -1;
}

void LoopbackClient::resetConnection()
{
    if (m_fd < 0)
        return;
    linger abort { 1, 0 };
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    close();
}

void LoopbackClient::shutdownSending()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, kShutdownSending);
}

void LoopbackClient::send(std::string_view bytes)
{
    std::string failure;
    if (!m_webSocket) {
        failure = sendAll(bytes);
    } else {
        for (size_t at = 0; at < bytes.size() && failure.empty(); at += kWebFramePayload)
            failure = sendAll(encodeClientFrame({ kBinaryOpcode, std::string(bytes.substr(at, kWebFramePayload)) }));
    }
    if (!failure.empty())
        throw std::runtime_error(failure);
}

void LoopbackClient::sendText(std::string_view utf8)
{
    if (!m_webSocket)
        throw std::logic_error("a text frame from a client that is no web client");
    std::string failure = sendAll(textFrame(utf8));
    if (!failure.empty())
        throw std::runtime_error(failure);
}

bool LoopbackClient::trySend(std::string_view bytes)
{
    if (!m_webSocket)
        return sendAll(bytes).empty();
    for (size_t at = 0; at < bytes.size(); at += kWebFramePayload) {
        if (!sendAll(encodeClientFrame({ kBinaryOpcode, std::string(bytes.substr(at, kWebFramePayload)) })).empty())
            return false;
    }
    return true;
}

std::string LoopbackClient::sendAll(std::string_view bytes)
{
    if (!isOpen())
        throw std::logic_error("send on a closed client");
    // The wait starts again whenever the socket takes something: only a server that takes
    // nothing at all is given up on.
    int64_t deadline = nowMs() + kDefaultWaitMs;
    while (!bytes.empty()) {
        auto sent = ::send(m_fd, bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), kMostPerSend)), kSendFlags);
        if (sent > 0) {
            bytes.remove_prefix(size_t(sent));
            deadline = nowMs() + kDefaultWaitMs;
            continue;
        }
        if (sent < 0 && !isTransientError(lastSocketError()))
            return withReason("send from " + m_address, lastSocketError());
        if (pollSocket(m_fd, POLLOUT, remainingMs(deadline)) == 0)
            return "send from " + m_address + ": the server took no data in time";
    }
    return {};
}

bool LoopbackClient::receiveMore(int64_t deadline)
{
    if (m_ended || !isOpen())
        return false;
    for (;;) {
        int ready = pollSocket(m_fd, POLLIN, remainingMs(deadline));
        if (ready < 0 && isTransientError(lastSocketError()))
            continue;
        if (ready <= 0)
            return false;
        char buffer[kReadChunk];
        auto got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            if (m_webSocket) {
                m_frames.append(buffer, size_t(got));
                takeFrames();
            } else {
                m_received.append(buffer, size_t(got));
            }
            return true;
        }
        if (got < 0 && isTransientError(lastSocketError()))
            continue;
        // End of stream, or a reset: nothing more will come either way.
        m_ended = true;
        m_reset = got < 0;
        return false;
    }
}

std::string LoopbackClient::takeUnread(size_t count)
{
    size_t taken = std::min(count, m_received.size());
    std::string bytes = m_received.substr(0, taken);
    m_received.erase(0, taken);
    return bytes;
}

std::string LoopbackClient::readExactly(size_t count, int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (m_received.size() < count && receiveMore(deadline)) { }
    return takeUnread(count);
}

std::string LoopbackClient::readToEnd(int waitMs)
{
    int64_t deadline = nowMs() + waitMs;
    while (receiveMore(deadline)) { }
    return std::exchange(m_received, {});
}

std::string LoopbackClient::readSome(int waitMs)
{
    // A read may bring only part of a web client's frame: it waits on for the rest.
    int64_t deadline = nowMs() + waitMs;
    while (m_received.empty() && receiveMore(deadline)) { }
    return std::exchange(m_received, {});
}

void LoopbackClient::receivePending()
{
    int64_t now = nowMs();
    while (receiveMore(now)) { }
}

} // namespace test_support
