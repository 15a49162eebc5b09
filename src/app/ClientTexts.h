// The texts the server composes for clients, and how they are framed: a sender line, CR LF
// and a body, either as it is (first form) or after a blank line (continued form). A delivery
// marker (the entry's address followed by "=1" in the marker store) remembers that a client
// has already been sent something, and so decides the form.
#pragma once

#include <string_view>

#include "net/ConnectionTransport.h"
#include "runtime/Text.h"

class EditBoxModel;
class TcpServer;

// The senders the server speaks as.
inline constexpr std::string_view kRobot = "Velqo机器人";
inline constexpr std::string_view kAdministrator = "管理员";

// The leave notice's body follows the leaver's address.
inline constexpr std::string_view kLeaveSuffix = "离开聊天室！";

// A text the server composes: who says it and what. Both of its framings come from this one
// rule, so no form is ever written out by hand.
struct FramedText {
    std::string_view sender;
    std::string_view body;

    // The sender line, CR LF and the body.
    Text firstForm() const;
    // The same after a blank line: CR LF CR LF in front.
    Text continuedForm() const;
};

// True when the roster entry has a delivery marker.
bool isMarked(std::string_view entry);
// Removes every marker line of the entry from the store.
void removeMarkers(std::string_view entry);
// Sends a text of the server's to a roster entry; it goes out whole or, past the queue caps,
// not at all (a parting text makes room in the entry's own queue first).
void sendToEntry(std::string_view entry, std::string_view text, MessageKind kind = MessageKind::ServerText);
// The same for a message the room carries to everybody (numbered, see RoomHistory).
void sendToEntry(std::string_view entry, const OutgoingMessage& message);
// The step that the relay and the room announcements take for every roster entry, over one
// scan of the roster: send to the entry, then mark it unless it is marked already. The server
// component and the marker store are looked up at the first entry and kept for the others,
// so that an entry costs its send and one marker lookup. `kind` says whether the bytes are
// relayed or a text of the server's. Lives for one scan, during which
// nothing can unload the console window (sending and marking run no handler).
class RosterDelivery {
public:
    void sendAndMark(std::string_view entry, const OutgoingMessage& message);

private:
    TcpServer* m_server = nullptr;
    EditBoxModel* m_markers = nullptr;
};

// One notice to one entry in the form its marker decides; a first form also marks the entry
// when `marksEntry` says so. `kind` is ServerText, or PartingText for a notice that ends the
// client's stay.
void sendNotice(std::string_view entry, const FramedText& notice, bool marksEntry = true, MessageKind kind = MessageKind::ServerText);
// One text in continued form to every roster entry of the running scan's count; each is marked.
// The room remembers it (RoomHistory).
void announceToRoom(std::string_view sender, std::string_view body);
