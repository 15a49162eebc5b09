// The browser's connection (see WebSocketTransport.h).
#include "web/WebSocketTransport.h"

#include "runtime/Cp936.h"
#include "web/HttpAnswers.h"
#include "web/PageFormat.h"

#include <utility>
#include <vector>

using websocket::Opcode;
namespace close_code = websocket::close_code;

namespace {

// The close reason of a newcomer turned away because its address names a member.
constexpr std::string_view kNameHeldReason = "address in use by a member, connect again";
// The close reason of a connection whose session another connection has taken up.
constexpr std::string_view kReplacedReason = "session taken up by another connection";

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
    m_pageFormat = answer.pageFormat;
    if (m_pageFormat) {
        // It joins once it gives its name; it may take up a session it had.
        page_format::ResumeQuery query = page_format::readResumeQuery(m_request->request().target);
        incoming.opened = true;
        incoming.resumeSession = std::move(query.session);
        incoming.resumeAfter = query.after;
    } else {
        incoming.joinsRoster = true;
    }
    m_request.reset();
    m_phase = Phase::Open;
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
    // Whether all the room gets of this read came as a page's text (its original is kept).
    bool onlyText = true;
    auto answerLatestPing = [&] {
        if (latestPing)
            websocket::appendFrame(incoming.answer, Opcode::Pong, latestPing->payload);
    };
    for (websocket::Message& message : messages) {
        switch (message.opcode) {
        case Opcode::Text:
            if (m_pageFormat) {
                if (!readPageFrame(message.payload, incoming))
                    return;
                break;
            }
            incoming.forRoom += utf8ToCp936(message.payload);
            break;
        case Opcode::Binary:
            incoming.forRoom += message.payload;
            onlyText = false;
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
            // A page that is unloaded says "going away": it may come back like after a blink.
            incoming.mayResume = code == close_code::kGoingAway;
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
    if (!onlyText)
        incoming.originalText.clear();
    if (failure != close_code::kNone)
        close(failure, incoming);
}

bool WebSocketTransport::readPageFrame(std::string_view payload, Incoming& incoming)
{
    page_format::PageFrame frame = page_format::read(payload);
    switch (frame.type) {
    case page_format::PageFrame::Type::Send:
        incoming.forRoom += utf8ToCp936(frame.text);
        incoming.originalText += frame.text;
        return true;
    case page_format::PageFrame::Type::Name:
        incoming.name = std::move(frame.text);
        incoming.joinsRoster = !std::exchange(m_named, true);
        return true;
    case page_format::PageFrame::Type::Pong:
        return true;
    case page_format::PageFrame::Type::Invalid:
        break;
    }
    close(frame.closeCode, incoming);
    return false;
}

std::string WebSocketTransport::textFrame(std::string_view text)
{
    std::string frame;
    websocket::appendFrame(frame, Opcode::Text, text);
    return frame;
}

std::string WebSocketTransport::welcome(const Welcome& welcome) { return textFrame(page_format::welcome(welcome)); }
std::string WebSocketTransport::live() { return textFrame(page_format::live()); }
std::string WebSocketTransport::members(std::string_view self, const MemberList& members)
{
    if (members.encoded.empty())
        members.encoded = page_format::memberList(members.entries);
    return textFrame(page_format::members(self, members.encoded));
}
std::string WebSocketTransport::ping() { return textFrame(page_format::ping()); }

void WebSocketTransport::close(uint16_t code, Incoming& incoming)
{
    incoming.lastWords = websocket::closeFrame(code);
    incoming.ends = true;
    m_phase = Phase::Closed;
}

std::string_view WebSocketTransport::frame(const OutgoingMessage& message, std::string& scratch)
{
    scratch.clear();
    if (m_pageFormat)
        websocket::appendFrame(scratch, Opcode::Text, page_format::message(message));
    else if (message.kind != MessageKind::Relayed)
        websocket::appendFrame(scratch, Opcode::Text, cp936ToUtf8(message.bytes));
    else
        websocket::appendFrame(scratch, Opcode::Binary, message.bytes);
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
    case CloseReason::Replaced:
        return websocket::closeFrame(close_code::kNormal, kReplacedReason);
    case CloseReason::Disconnected:
    case CloseReason::TimedOut:
        break;
    }
    return websocket::closeFrame(close_code::kNormal);
}
