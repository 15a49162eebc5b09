// What crosses a client connection's socket, apart from the room: a transport turns the
// bytes read from the socket into data for the room (and bytes to answer the peer with), and
// a message for the peer into bytes on the wire. The room's own clients speak raw TCP, where
// both directions are the bytes themselves (RawTransport). Another kind of client (one whose
// connection starts with a handshake and frames its messages) brings a transport of its own
// and a listener of its own (TcpServer::openEntrance); the roster, the events, the queues,
// the caps and the close rules stay the same for every kind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Which kind of message goes out: bytes relayed from a client, or a text the server composed
// itself (a notice). Raw TCP sends both alike; a framing transport can mark them apart, so
// that its peer acts on the server's texts and never on a relayed imitation of one. A parting
// text is a server text that ends the client's stay (a kick, a prank, the dissolution): it is
// framed as one, and it gets through a full queue, since it is the one message that matters
// most to that client.
enum class MessageKind { Relayed, ServerText, PartingText };

// One message on its way to a connection: the bytes every transport sends, and what a
// transport that follows the room (a page that shows who said what, and asks for what it
// missed) makes of it besides. A plain transport uses `bytes` and `kind` alone.
struct OutgoingMessage {
    std::string_view bytes {};
    MessageKind kind = MessageKind::Relayed;
    // The room's number for a message it carried to everybody (a relay, a room-wide text);
    // 0 for a text to one member only.
    uint64_t seq = 0;
    // The roster entry whose bytes are relayed.
    std::string_view sender {};
    // The sender's own UTF-8 text of `bytes`, when the sender gave one.
    std::string_view originalText {};
    // Set by the server for each receiver: the receiver is the sender.
    bool own = false;
    // Replayed from the room's history rather than live.
    bool replayed = false;
};

// Why the server closes a connection of its own accord.
enum class CloseReason {
    Disconnected, // the administrator removed it from the roster (a kick)
    RoomClosing,  // the server component closes with the room
    TimedOut,     // it did not join the roster in time, or newer connections pushed it out
    NameHeld,     // its address is the name of a member still connected; it may come again
                  // (from another port) at once
    Replaced,     // another connection has taken up its session
};

// What a transport made of the bytes it was given.
struct Incoming {
    // Data for a data-arrival event; empty when there is none.
    std::string forRoom;
    // Bytes to write back to the peer at once (a handshake's answer, pongs).
    std::string answer;
    // The connection is ready to join the roster now (a transport that does not join on accept).
    bool joinsRoster = false;
    // The peer asked to close, or sent what cannot be understood: the connection ends after
    // what it was sent before, and then `lastWords` (a close frame, an HTTP answer), have
    // gone out. Nothing is written to it after them.
    bool ends = false;
    std::string lastWords;
    // The peer's connection ended the way a network blink or a page reload ends it (no close
    // frame, or "going away"): a member that follows the room may come back (see graceful).
    bool mayResume = false;

    // For a peer that follows the room (ConnectionTransport::followsRoom):
    // the connection has just opened (its welcome is due), and asks to take up a session again.
    bool opened = false;
    std::optional<std::string> resumeSession;
    std::optional<uint64_t> resumeAfter;
    // The nickname the peer gave (the latest of this read).
    std::optional<std::string> name;
    // The UTF-8 text `forRoom` was converted from, when all of it came as such text.
    std::string originalText;
};

// What a transport that follows the room is told besides the messages.
struct Welcome {
    std::string_view session {};
    std::string_view address {};
    bool resumed = false;
    uint64_t missed = 0;
};
struct MemberEntry {
    std::string_view address {};
    std::optional<std::string_view> name {};
    bool web = false;
};
// The roster as one telling gives it to every follower. Their frames differ only in whose
// they are, so a transport encodes the entries once, into `encoded`, for all of them: the
// roster's cost is then its size per follower in copying, not in encoding.
struct MemberList {
    std::span<const MemberEntry> entries;
    mutable std::string encoded {};
};

class ConnectionTransport {
public:
    virtual ~ConnectionTransport() = default;
    // True when the connection is a roster entry from its accept on; false when it joins only
    // once decode() says so.
    virtual bool joinsOnAccept() const = 0;
    // Takes the bytes read from the socket (in order, cut anywhere by the reads).
    virtual Incoming decode(std::string&& bytes) = 0;
    // The bytes on the wire for one message: `message` itself, or what the transport wrote
    // into `scratch`; never empty for a message that is not. The result is used before the
    // next call. Whether the connection may still be written to is the server's to decide.
    virtual std::string_view frame(const OutgoingMessage& message, std::string& scratch) = 0;
    // The last bytes before the server closes the connection of its own accord (a closing
    // handshake, or an answer to a request that took too long); nothing by default.
    virtual std::string farewell(CloseReason reason)
    {
        (void)reason;
        return {};
    }

    // A peer of a browser (shown as such in the members list).
    virtual bool isWeb() const { return false; }
    // True for a peer that follows the room: it is welcomed with a session, replayed the
    // room's history on joining, told the roster, pinged, and may take up its session again.
    // The frames below are empty for every other transport.
    virtual bool followsRoom() const { return false; }
    virtual std::string welcome(const Welcome& welcome)
    {
        (void)welcome;
        return {};
    }
    // The replay is over.
    virtual std::string live() { return {}; }
    virtual std::string members(std::string_view self, const MemberList& members)
    {
        (void)self;
        (void)members;
        return {};
    }
    virtual std::string ping() { return {}; }
};

// Raw TCP: the room's bytes both ways, unchanged, on the roster from the accept on.
class RawTransport final : public ConnectionTransport {
public:
    bool joinsOnAccept() const override { return true; }
    Incoming decode(std::string&& bytes) override
    {
        Incoming incoming;
        incoming.forRoom = std::move(bytes);
        return incoming;
    }
    std::string_view frame(const OutgoingMessage& message, std::string&) override { return message.bytes; }
};

// Makes the transport of each connection a listener accepts.
using TransportFactory = std::function<std::unique_ptr<ConnectionTransport>()>;
