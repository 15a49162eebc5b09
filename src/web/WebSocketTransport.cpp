// The browser's connection (see WebSocketTransport.h).
#include "web/WebSocketTransport.h"

#include "runtime/Cp936.h"

#include <utility>
#include <vector>

using websocket::Opcode;
namespace close_code = websocket::close_code;

namespace {

// The close reason of a newcomer turned away because its address names a member.
constexpr std::string_view kNameHeldReason = "address in use by a member, connect again";

} // namespace

WebSocketTransport::WebSocketTransport(std::shared_ptr<const WebSite> site)
    : m_site(std::move(site))
    , m_request(std::make_unique<HttpRequestReader>())
{
}

Incoming WebSocketTransport::decode(std::string&& bytes)
{
    switch (m_phase) {
    case Phase::Request:
        return readRequest(std::move(bytes));
    case Phase::Open: {
        Incoming incoming;
        readFrames(bytes, incoming);
        return incoming;
    }
    case Phase::Closed:
        break;
    }
    return {};
}

Incoming WebSocketTransport::readRequest(std::string&& bytes)
{
    Incoming incoming;
    switch (m_request->feed(bytes)) {
    case HttpRequestReader::State::Incomplete:
        return incoming;
    case HttpRequestReader::State::Failed:
        incoming.lastWords = errorResponse(m_request->failure());
        incoming.ends = true;
        m_phase = Phase::Closed;
        return incoming;
    case HttpRequestReader::State::Complete:
        break;
    }
    HttpAnswer answer = answerRequest(m_request->request(), *m_site);
    if (!answer.upgraded) {
        incoming.lastWords = std::move(answer.bytes);
        incoming.ends = true;
        m_phase = Phase::Closed;
        return incoming;
    }
    incoming.answer = std::move(answer.bytes);
    // Frames a client sent right behind its request are read at once.
    std::string rest = m_request->takeRest();
    m_request.reset();
    m_phase = Phase::Open;
    incoming.joinsRoster = true;
    readFrames(rest, incoming);
    return incoming;
}

void WebSocketTransport::readFrames(std::string_view bytes, Incoming& incoming)
{
    std::vector<websocket::Message> messages;
    uint16_t failure = m_frames.decode(bytes, messages);
    // Only the latest ping of a read is answered, as RFC 6455 allows: a peer that sends pings
    // and never reads then costs one pong per read, not one per ping.
    const websocket::Message* latestPing = nullptr;
    auto answerLatestPing = [&] {
        if (latestPing)
            websocket::appendFrame(incoming.answer, Opcode::Pong, latestPing->payload);
    };
    for (websocket::Message& message : messages) {
        switch (message.opcode) {
        case Opcode::Text:
            incoming.forRoom += utf8ToCp936(message.payload);
            break;
        case Opcode::Binary:
            incoming.forRoom += message.payload;
            break;
        case Opcode::Ping:
            latestPing = &message;
            break;
        case Opcode::Close: {
            answerLatestPing();
            // The close handshake: the same status back (none for none), then the end.
            uint16_t code = websocket::closeCodeOf(message.payload);
            if (code == close_code::kNone)
                websocket::appendFrame(incoming.lastWords, Opcode::Close, {});
            else
                incoming.lastWords = websocket::closeFrame(code);
            incoming.ends = true;
            m_phase = Phase::Closed;
            return;
        }
        case Opcode::Pong:
        case Opcode::Continuation:
            break;
        }
    }
    answerLatestPing();
    if (failure != close_code::kNone)
        close(failure, incoming);
}

void WebSocketTransport::close(uint16_t code, Incoming& incoming)
{
    incoming.lastWords = websocket::closeFrame(code);
    incoming.ends = true;
    m_phase = Phase::Closed;
}

std::string_view WebSocketTransport::frame(std::string_view message, MessageKind kind, std::string& scratch)
{
    scratch.clear();
    if (kind != MessageKind::Relayed)
        websocket::appendFrame(scratch, Opcode::Text, cp936ToUtf8(message));
    else
        websocket::appendFrame(scratch, Opcode::Binary, message);
    return scratch;
}

// The server closes: a request that took too long is told so; a member gets the closing
// handshake's first frame, "going away" when the room closes. A browser whose address is
// already a member's name is told after the handshake, since a browser's script learns
// nothing of a refused handshake but a close code that a server outage gives as well; with
// "try again later" the page connects again at once, from a new port.
std::string WebSocketTransport::farewell(CloseReason reason)
{
    Phase phase = std::exchange(m_phase, Phase::Closed);
    if (phase == Phase::Request && reason == CloseReason::TimedOut)
        return errorResponse(http_status::kRequestTimeout);
    if (phase != Phase::Open)
        return {};
    switch (reason) {
    case CloseReason::RoomClosing:
        return websocket::closeFrame(close_code::kGoingAway);
    case CloseReason::NameHeld:
        return websocket::closeFrame(close_code::kTryAgainLater, kNameHeldReason);
    case CloseReason::Disconnected:
    case CloseReason::TimedOut:
        break;
    }
    return websocket::closeFrame(close_code::kNormal);
}
