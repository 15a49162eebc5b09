// The page's message format, version 2: one JSON object per text frame both ways, for a page
// that asked for the subprotocol kPageFormatProtocol. The server tells it who sent each
// message (and whether that was this very member), numbers what the room carried to
// everybody so that the page can ask for what it missed, and says the roster; the page sends
// its messages, its nickname and its answers to pings.
#pragma once

#include "net/ConnectionTransport.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kPageFormatProtocol = "chatroom.v2";

namespace page_format {

// Server to page.
std::string message(const OutgoingMessage& message);
std::string welcome(const Welcome& welcome);
std::string live();
// The roster in two steps, for many frames of one roster: the entries' JSON array once, then
// each member's frame around it.
std::string memberList(std::span<const MemberEntry> members);
std::string members(std::string_view self, std::string_view encodedList);
std::string ping();

// Page to server: what one text frame asks for.
struct PageFrame {
    enum class Type { Send, Name, Pong, Invalid };
    Type type = Type::Invalid;
    std::string text {}; // a message's text, or a nickname
    // For Invalid: the close code (not JSON at all, or JSON that is not one of the frames).
    uint16_t closeCode = 0;
};
PageFrame read(std::string_view utf8);

// What the WebSocket URL's query asks for: "session=TOKEN&after=SEQ", both optional.
struct ResumeQuery {
    std::optional<std::string> session;
    std::optional<uint64_t> after;
};
ResumeQuery readResumeQuery(std::string_view target);

} // namespace page_format
