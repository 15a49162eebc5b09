// Fuzz target for the whole path from a member's bytes to every member's stream: the real
// server component on its real loop (an epoll set with rounds, so the round's gathering takes
// part), raw TCP members and browsers on loopback sockets. The input is a script: members send
// data, frames (good, bad, pings, closes, several in one write), shut down or vanish; the
// administrator kicks (also from inside a member's own event) and speaks; at the end the room
// is dissolved. Whatever the script, the program must survive, and every member that kept
// reading must have received exactly the messages the component accepted for it, whole and in
// order, a browser's as well-formed frames with nothing after its close frame.
#include "FuzzCheck.h"

#include "net/TcpServer.h"
#include "platform/posix/EpollWatchers.h"
#include "platform/posix/OwnedDescriptor.h"
#include "support/ClientFrames.h"
#include "web/WebEntrance.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using test_support::ClientFrame;
using test_support::encodeClientFrame;
using test_support::readServerFrame;

constexpr size_t kTcpMembers = 2;
constexpr size_t kWebMembers = 2;
constexpr size_t kMembers = kTcpMembers + kWebMembers;
constexpr size_t kMaxSteps = 48;
constexpr size_t kMaxChunk = 300;
constexpr size_t kMaxFramesPerWrite = 4;
// A member's data that starts with this byte makes the room kick that member from inside its
// own data event, where the component's handlers nest.
constexpr char kKickMeByte = '~';
// The loop is turned until it has been quiet for this many looks in a row. On loopback what one
// side sends is readable by the other at once, so a look need not wait.
constexpr int kQuietLooks = 2;
constexpr int kLookMs = 0;
// How long the members wait for more of the room's end in one look.
constexpr int kEndLookMs = 1;
// What the members are given to read the room's end (the room's own flush deadline is 1 s).
constexpr int kEndReadMs = 3000;
constexpr uint8_t kOpText = 0x1, kOpBinary = 0x2, kOpClose = 0x8, kOpPing = 0x9, kOpPong = 0xA;
constexpr std::array<uint8_t, 8> kClientOpcodes { 0x0, kOpText, kOpBinary, kOpClose, kOpPing, kOpPong, 0x3, 0xB };

// A free loopback port, found once: the listeners reuse their address.
uint16_t freePort()
{
    OwnedDescriptor probe(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::string localName(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

OwnedDescriptor connectTo(uint16_t port)
{
    OwnedDescriptor fd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

struct Expected {
    MessageKind kind;
    std::string bytes;
};

struct Member {
    OwnedDescriptor socket;
    bool web = false;
    std::string address;
    std::string received;
    bool vanished = false; // its socket was closed by the member: nothing is checked
    bool ended = false; // the room closed it and it has read the end
};

class FuzzRoom {
public:
    FuzzRoom(uint16_t tcpPort, uint16_t webPort)
        : m_server(m_watchers, [this](TcpServer::Event event) { onEvent(event); }, tcpPort)
    {
        openWebEntrance(m_server, webPort, WebEntranceNames {});
    }

    TcpServer& server() { return m_server; }

    // Sends to one member and remembers what the component took.
    void sendTo(const std::string& address, std::string_view bytes, MessageKind kind)
    {
        if (m_server.sendData(address, bytes, kind))
            m_accepted[address].push_back({ kind, std::string(bytes) });
    }
    void sendToAll(std::string_view bytes, MessageKind kind)
    {
        for (const std::string& address : m_server.clientList())
            sendTo(address, bytes, kind);
    }
    void kick(const std::string& address)
    {
        sendTo(address, "kicked", MessageKind::PartingText);
        m_server.disconnectClient(address);
    }
    const std::vector<Expected>& acceptedFor(const std::string& address) { return m_accepted[address]; }
    size_t events() const { return m_events; }
    void look(int timeoutMs) { m_watchers.dispatch(timeoutMs); }

private:
    void onEvent(TcpServer::Event event)
    {
        ++m_events;
        std::string client = m_server.getClient();
        if (event == TcpServer::DataArrival) {
            std::string data(m_server.getData().view());
            sendToAll(data, MessageKind::Relayed);
            if (!data.empty() && data.front() == kKickMeByte)
                kick(client);
        } else if (event == TcpServer::ClientLeft) {
            sendToAll("left " + client, MessageKind::ServerText);
        }
    }

    EpollWatchers m_watchers;
    TcpServer m_server;
    std::map<std::string, std::vector<Expected>> m_accepted;
    size_t m_events = 0;
};

// Reads what has arrived; true when anything did.
bool readAvailable(Member& member)
{
    if (member.vanished || member.ended)
        return false;
    char chunk[4096];
    bool read = false;
    for (;;) {
        ssize_t got = recv(member.socket.get(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            member.received.append(chunk, static_cast<size_t>(got));
            read = true;
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            member.ended = true;
        return read;
    }
}

// Turns the loop until nothing happens for a few looks, reading the members in between.
void settle(FuzzRoom& room, std::vector<Member>& members)
{
    for (int quiet = 0; quiet < kQuietLooks;) {
        size_t before = room.events();
        room.look(kLookMs);
        bool heard = false;
        for (Member& member : members)
            heard = readAvailable(member) || heard;
        quiet = room.events() == before && !heard ? quiet + 1 : 0;
    }
}

void sendAll(const Member& member, std::string_view bytes)
{
    if (!member.vanished)
        send(member.socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string upgradeRequest(uint16_t port)
{
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
          "Sec-WebSocket-Version: 13\r\n\r\n";
}

std::string clientFrames(FuzzedDataProvider& input)
{
    std::string bytes;
    size_t count = input.ConsumeIntegralInRange<size_t>(1, kMaxFramesPerWrite);
    for (size_t i = 0; i < count; ++i) {
        ClientFrame frame;
        frame.opcode = kClientOpcodes[input.ConsumeIntegralInRange<size_t>(0, kClientOpcodes.size() - 1)];
        frame.payload = input.ConsumeRandomLengthString(kMaxChunk);
        frame.final = input.ConsumeIntegralInRange<int>(0, 7) != 0;
        frame.masked = input.ConsumeIntegralInRange<int>(0, 15) != 0;
        bytes += encodeClientFrame(frame);
    }
    return bytes;
}

void checkTcpStream(const Member& member, const std::vector<Expected>& accepted)
{
    std::string expected;
    for (const Expected& message : accepted)
        expected += message.bytes;
    FUZZ_CHECK(member.received == expected, fuzzPrintBytes("received", member.received), fuzzPrintBytes("expected", expected));
}

// The handshake's answer, then whole frames: the data frames are exactly the accepted
// messages (relayed bytes binary, the server's texts text), pongs may come between them, and
// a close frame, if any, is the last.
void checkWebStream(const Member& member, const std::vector<Expected>& accepted)
{
    std::string_view stream = member.received;
    size_t headerEnd = stream.find("\r\n\r\n");
    FUZZ_CHECK(stream.starts_with("HTTP/1.1 101") && headerEnd != std::string_view::npos, fuzzPrintBytes("received", stream));
    stream.remove_prefix(headerEnd + 4);
    size_t next = 0;
    bool closed = false;
    while (!stream.empty()) {
        std::optional<test_support::ServerFrame> frame = readServerFrame(stream);
        FUZZ_CHECK(frame && frame->final, fuzzPrintBytes("rest of the stream", stream));
        FUZZ_CHECK(!closed, fuzzPrintBytes("after the close frame", stream));
        stream.remove_prefix(frame->size);
        if (frame->opcode == kOpClose) {
            closed = true;
            continue;
        }
        if (frame->opcode == kOpPong)
            continue;
        FUZZ_CHECK(next < accepted.size(), fuzzPrintBytes("unexpected frame", frame->payload));
        const Expected& message = accepted[next++];
        uint8_t opcode = message.kind == MessageKind::Relayed ? kOpBinary : kOpText;
        FUZZ_CHECK(frame->opcode == opcode && frame->payload == message.bytes, fuzzPrintBytes("frame", frame->payload), fuzzPrintBytes("expected", message.bytes));
    }
    FUZZ_CHECK(next == accepted.size(), fuzzPrintNumber("frames missing", static_cast<long long>(accepted.size() - next)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const uint16_t tcpPort = freePort();
    static const uint16_t webPort = freePort();
    FuzzedDataProvider input(data, size);
    auto room = std::make_unique<FuzzRoom>(tcpPort, webPort);
    std::vector<Member> members(kMembers);
    for (size_t i = 0; i < kMembers; ++i) {
        Member& member = members[i];
        member.web = i >= kTcpMembers;
        member.socket = connectTo(member.web ? webPort : tcpPort);
        member.address = localName(member.socket.get());
        if (member.web)
            sendAll(member, upgradeRequest(webPort));
    }
    settle(*room, members);
    FUZZ_CHECK(room->server().clientList().size() == kMembers, fuzzPrintNumber("members", static_cast<long long>(room->server().clientList().size())));

    for (size_t step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        Member& member = members[input.ConsumeIntegralInRange<size_t>(0, kMembers - 1)];
        switch (input.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: // bytes as they are: a TCP member's chat, or a browser's garbage
            sendAll(member, input.ConsumeRandomLengthString(kMaxChunk));
            break;
        case 1:
            sendAll(member, member.web ? clientFrames(input) : input.ConsumeRandomLengthString(kMaxChunk));
            break;
        case 2:
            room->kick(member.address);
            break;
        case 3:
            room->sendToAll("notice", MessageKind::ServerText);
            break;
        case 4:
            if (!member.vanished)
                shutdown(member.socket.get(), SHUT_WR);
            break;
        case 5:
            member.vanished = true;
            member.socket.reset();
            break;
        default:
            break;
        }
        // Most steps are handled one by one; some pile up and meet in one round.
        if (input.ConsumeBool())
            settle(*room, members);
    }
    settle(*room, members);

    // The dissolution: the parting notice to everybody, then the component closes.
    room->sendToAll("dissolved", MessageKind::PartingText);
    std::map<std::string, std::vector<Expected>> accepted;
    for (const Member& member : members)
        accepted[member.address] = room->acceptedFor(member.address);
    room.reset();

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndReadMs);
    for (Member& member : members) {
        while (!member.vanished && !member.ended && std::chrono::steady_clock::now() < deadline) {
            pollfd readable { member.socket.get(), POLLIN, 0 };
            poll(&readable, 1, kEndLookMs);
            readAvailable(member);
        }
        if (member.vanished)
            continue;
        FUZZ_CHECK(member.ended, fuzzPrintBytes("member not closed", member.address));
        if (member.web)
            checkWebStream(member, accepted[member.address]);
        else
            checkTcpStream(member, accepted[member.address]);
    }
    return 0;
}
