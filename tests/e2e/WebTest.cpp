// The web entrance of the built program, as browsers and bad clients meet it on port 19731:
// the answers to requests, the close codes of broken frames, ping and the close handshake,
// text in UTF-8 entering the room in code page 936, the server's texts apart from relayed
// bytes, a newcomer on a member's address turned away, the door kept open under slow
// requests and shut to names not the room's, and the options that move, name or close it.
// (The room's own suites run with browsers mixed in as well: CHATROOM_E2E_WEB_CLIENTS.)
#include "RoomTest.h"

#include "support/ClientFrames.h"
#include "support/LocalPorts.h"

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

constexpr uint16_t kWebPort = ServerProcess::kWebPort;
const std::string kUpgradeFields = "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
const std::string kHandshake = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:19731\r\n" + kUpgradeFields;

class Web : public RoomTest {
protected:
    void prepareServer(ServerProcess& server) override
    {
        server.setArguments(m_arguments, m_webPort);
        if (m_descriptorLimit)
            server.setDescriptorLimit(m_descriptorLimit);
    }

    LoopbackClient& connectBrowser()
    {
        LoopbackClient::ConnectOptions asBrowser;
        asBrowser.webSocket = true;
        return connectClient(asBrowser);
    }

    // Sends `bytes` on a fresh connection to the web port and returns all that comes back
    // until the server closes it.
    static std::string exchange(const std::string& bytes, uint16_t port = kWebPort)
    {
        LoopbackClient raw(port);
        raw.send(bytes);
        std::string answer = raw.readToEnd();
        EXPECT_TRUE(raw.endedCleanly()) << "the server did not close the connection after: " << answer.substr(0, 40);
        return answer;
    }

    // The frames that follow the handshake's answer in `answer`.
    static std::vector<ServerFrame> framesAfterHandshake(const std::string& answer)
    {
        std::vector<ServerFrame> frames;
        size_t at = answer.find("\r\n\r\n");
        if (!answer.starts_with("HTTP/1.1 101 ") || at == std::string::npos)
            return frames;
        for (at += 4; auto frame = readServerFrame(std::string_view(answer).substr(at));) {
            at += frame->size;
            frames.push_back(std::move(*frame));
        }
        return frames;
    }

    std::vector<std::string> m_arguments;
    std::optional<uint16_t> m_webPort = kWebPort;
    rlim_t m_descriptorLimit = 0;
};

TEST_F(Web, RequestsGetTheirAnswerAndTheConnectionEnds)
{
    startServer();
    struct Case {
        std::string request;
        std::string statusLine;
    };
    const Case cases[] = {
        { "GET / HTTP/1.1\r\nHost: 127.0.0.1:19731\r\n\r\n", "HTTP/1.1 200 OK" },
        // A head the reader refuses, over several reads; and a request the answers refuse.
        { "GET / HTTP/1.1\r\nHost: h\r\nX: " + std::string(9000, 'x') + "\r\n\r\n", "HTTP/1.1 431 Request Header Fields Too Large" },
        { kHandshake + "Origin: http://elsewhere.example\r\n\r\n", "HTTP/1.1 403 Forbidden" },
        // A page whose name was pointed at this machine (DNS rebinding) is not let in; by an
        // address, or an absolute-form target naming one, a browser is (and leaves at once).
        { "GET /ws HTTP/1.1\r\nHost: evil.test:19731\r\nOrigin: http://evil.test:19731\r\n" + kUpgradeFields + "\r\n", "HTTP/1.1 421 Misdirected Request" },
        { kHandshake + "Origin: http://127.0.0.1:19731\r\n\r\n" + encodeClientFrame({ 0x8, "" }), "HTTP/1.1 101 Switching Protocols" },
        { "GET http://127.0.0.1:19731/ws HTTP/1.1\r\nHost: evil.test:19731\r\n" + kUpgradeFields + "\r\n" + encodeClientFrame({ 0x8, "" }), "HTTP/1.1 101 Switching Protocols" },
        // HTTP/0.9: one line, and the client waits.
        { "GET /\r\n", "HTTP/1.1 400 Bad Request" },
    };
    for (const Case& c : cases) {
        std::string answer = exchange(c.request);
        EXPECT_TRUE(answer.starts_with(c.statusLine + "\r\n")) << c.request.substr(0, 40) << " -> " << answer.substr(0, 60);
    }
}

TEST_F(Web, BrokenFramesEndTheConnectionWithTheirCloseCode)
{
    startServer();
    struct Case {
        const char* what;
        std::string frames;
        uint16_t code;
    };
    const Case cases[] = {
        // The decoder's table has every broken frame; here, that its close code reaches the
        // wire, also while the client is still sending.
        { "unmasked", encodeClientFrame({ 0x1, "hi", true, false }), 1002 },
        { "oversized", encodeClientFrame({ 0x2, std::string(64 * 1024 + 1, 'x') }), 1009 },
        { "the client's close", encodeClientFrame({ 0x8, "\x0f\xa0" "bye" }), 4000 },
    };
    for (const Case& c : cases) {
        std::vector<ServerFrame> frames = framesAfterHandshake(exchange(kHandshake + "\r\n" + c.frames));
        ASSERT_EQ(frames.size(), 1u) << c.what;
        EXPECT_EQ(frames[0].opcode, 0x8) << c.what;
        EXPECT_EQ(frames[0].closeCode(), c.code) << c.what;
    }
}

TEST_F(Web, PingIsAnsweredAndTheRoomHearsTheCloseAsALeave)
{
    startServer();
    LoopbackClient& tcp = connectClient();
    syncByProbe(tcp);
    LoopbackClient browser(kWebPort);
    browser.send(kHandshake + "\r\n" + encodeClientFrame({ 0x9, "are you there" }) + binaryFrame("hi"));
    std::string answer;
    while (framesAfterHandshake(answer).size() < 2 && !browser.hasEnded())
        answer += browser.readSome(LoopbackClient::kDefaultWaitMs);
    std::vector<ServerFrame> frames = framesAfterHandshake(answer);
    ASSERT_EQ(frames.size(), 2u) << answer;
    EXPECT_EQ(frames[0].opcode, 0xA);
    EXPECT_EQ(frames[0].payload, "are you there");
    EXPECT_EQ(frames[1].opcode, 0x2);
    EXPECT_EQ(frames[1].payload, "hi");
    expectReceives(tcp, "hi");

    browser.send(encodeClientFrame({ 0x8, std::string("\x03\xe8", 2) }));
    auto closing = readServerFrame(browser.readToEnd());
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->opcode, 0x8);
    EXPECT_EQ(closing->closeCode(), 1000);
    EXPECT_TRUE(browser.endedCleanly());
    expectReceives(tcp, leaveNotice(true, browser.address()));
}

// A browser's last message and its close frame come in one write when a tab closes: the
// message reaches the room and the browser's own echo, then the close frame is the last
// frame, and the room goes on. The robot's answer first leaves the round's gathering with
// copies behind it, and the browser is first on the roster, so its echo is framed first.
TEST_F(Web, DataAndTheEndInOneWriteEndOnlyThatBrowser)
{
    startServer();
    struct Case {
        const char* what;
        std::string end;
        uint16_t code;
    };
    const Case cases[] = {
        { "close frame", encodeClientFrame({ 0x8, std::string("\x03\xe8", 2) }), 1000 },
        { "unmasked frame", encodeClientFrame({ 0x1, "x", true, false }), 1002 },
    };
    for (const Case& c : cases) {
        LoopbackClient browser(kWebPort);
        browser.send(kHandshake + "\r\n");
        std::string received;
        while (received.find("\r\n\r\n") == std::string::npos && !browser.hasEnded())
            received += browser.readSome(LoopbackClient::kDefaultWaitMs);
        LoopbackClient& tcp = connectClient();
        tcp.send("你好");
        expectReceives(tcp, "你好");
        expectReceives(tcp, continuedForm(kRobot, "你好呀"));
        browser.send(binaryFrame("hi") + c.end);
        expectReceives(tcp, "hi");
        expectReceives(tcp, leaveNotice(true, browser.address()));
        std::vector<ServerFrame> frames = framesAfterHandshake(received + browser.readToEnd());
        ASSERT_GE(frames.size(), 2u) << c.what;
        EXPECT_EQ(frames[frames.size() - 2].payload, "hi") << c.what;
        EXPECT_EQ(frames.back().opcode, 0x8) << c.what;
        EXPECT_EQ(frames.back().closeCode(), c.code) << c.what;
        EXPECT_TRUE(browser.endedCleanly()) << c.what;
        closeAndExpectLeaveNotice(tcp, true);
    }
}

// A request left half-sent is answered and closed at its deadline in a room where nothing
// else happens.
TEST_F(Web, AHalfSentRequestEndsAtItsDeadlineInAQuietRoom)
{
    constexpr int kWellPastTheDeadlineMs = 30000;
    startServer();
    LoopbackClient slow(kWebPort);
    slow.send("GET / HTTP/1.1\r\nHost: 127.0.0.1:19731\r\n");
    std::string answer = slow.readToEnd(kWellPastTheDeadlineMs);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 408 ")) << answer.substr(0, 40);
    EXPECT_TRUE(slow.endedCleanly());
}

TEST_F(Web, TextEntersInCodePage936AndOnlyTheServersTextsComeAsText)
{
    startServer();
    LoopbackClient& tcp = connectClient();
    LoopbackClient& browser = connectBrowser();
    syncByProbe(tcp);

    // 小明 and 你好 have code page 936 forms; the emoji has none and becomes one "?".
    browser.sendText("\xe5\xb0\x8f\xe6\x98\x8e\r\n\xe4\xbd\xa0\xe5\xa5\xbd\xf0\x9f\x98\x80");
    expectAllReceive("小明\r\n你好?");
    // The robot answers 你好 with a text of the server's own: the one text frame so far.
    expectAllReceive(continuedForm(kRobot, "你好呀"));
    ASSERT_EQ(browser.serverTexts().size(), 1u);
    EXPECT_EQ(browser.serverTexts()[0], "\r\n\r\nVelqo\xe6\x9c\xba\xe5\x99\xa8\xe4\xba\xba\r\n\xe4\xbd\xa0\xe5\xa5\xbd\xe5\x91\x80");

    // A TCP client's imitation of the mute notice reaches the browser as relayed bytes.
    tcp.send(continuedForm(kAdministrator, kMuteBody));
    expectAllReceive(continuedForm(kAdministrator, kMuteBody));
    syncByProbe(tcp);
    EXPECT_EQ(browser.serverTexts().size(), 1u);

    // Closing the room: the dissolution as a text, then the close frame "going away".
    server().stop();
    expectReceives(browser, continuedForm(kAdministrator, kDissolutionBody));
    browser.readToEnd();
    EXPECT_EQ(browser.closeCode(), 1001);
    EXPECT_EQ(browser.serverTexts().size(), 2u);
}

// Toward two server ports, a browser and a TCP client on one host may get the same local port
// and so the same name. The member keeps it and goes on; the newcomer is closed cleanly, a
// browser after the close code on which the page connects again at once, from a new port.
TEST_F(Web, ANewcomerWithAMembersAddressIsTurnedAwayClearly)
{
    startServer();
    for (bool browserFirst : { true, false }) {
        LoopbackClient& member = connectClient({ .reuseAddress = true, .webSocket = browserFirst });
        syncByProbe(member);
        LoopbackClient newcomer(browserFirst ? ServerProcess::kPort : kWebPort, { .localPort = member.port(), .reuseAddress = true, .webSocket = !browserFirst });
        ASSERT_EQ(newcomer.address(), member.address());
        newcomer.readToEnd();
        EXPECT_TRUE(newcomer.endedCleanly()) << "browser first: " << browserFirst;
        EXPECT_EQ(newcomer.closeCode(), browserFirst ? 0 : 1013);
        syncByProbe(member);
    }
    EXPECT_NE(server().standardError().find("a newcomer was turned away"), std::string::npos) << server().standardError();
}

TEST_F(Web, ManySlowRequestsDoNotKeepABrowserOut)
{
    constexpr int kSlowConnections = 1000;
    // The test holds a thousand connections besides its own descriptors.
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_GT(limit.rlim_cur, static_cast<rlim_t>(kSlowConnections + 100)) << "too few descriptors for this test";

    // Fewer descriptors than slow connections: only a limit on the waiting ones lets the
    // browser in.
    m_descriptorLimit = kSlowConnections / 2;
    startServer();
    std::vector<std::unique_ptr<LoopbackClient>> slow;
    for (int i = 0; i < kSlowConnections; ++i) {
        slow.push_back(std::make_unique<LoopbackClient>(kWebPort));
        slow.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1:19731\r\n");
    }
    connectClient();
    LoopbackClient& browser = connectBrowser();
    browser.send("still here");
    expectAllReceive("still here");
}

TEST_F(Web, TheOptionsMoveOrCloseTheEntranceAndATakenPortIsReported)
{
    m_arguments = { "--no-web" };
    m_webPort = std::nullopt;
    startServer();
    LoopbackClient probe;
    EXPECT_FALSE(probe.tryConnect(kWebPort));

    constexpr uint16_t kOtherPort = 19741;
    m_arguments = { "--web-port", std::to_string(kOtherPort), "--web-host", "chat.example" };
    m_webPort = kOtherPort;
    restartServer();
    EXPECT_TRUE(exchange("GET / HTTP/1.1\r\nHost: Chat.Example:8080\r\n\r\n", kOtherPort).starts_with("HTTP/1.1 200 "));
    EXPECT_TRUE(exchange("GET / HTTP/1.1\r\nHost: chat.example.org\r\n\r\n", kOtherPort).starts_with("HTTP/1.1 421 "));

    // Another program holds the web port: the room runs for TCP clients and says why browsers
    // cannot join.
    PortHolder holder;
    m_arguments = { "--web-port", std::to_string(holder.port()) };
    m_webPort = std::nullopt;
    restartServer();
    LoopbackClient& tcp = connectClient();
    syncByProbe(tcp);
    EXPECT_NE(server().standardError().find(utf8(u8"无法在TCP端口") + std::to_string(holder.port()) + utf8(u8"上打开网页入口")), std::string::npos)
        << server().standardError();
}

} // namespace
