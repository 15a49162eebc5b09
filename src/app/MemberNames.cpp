// The names members go by (see MemberNames.h).
#include "app/MemberNames.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// The blank line in front of every message after a member's first.
constexpr std::string_view kMessageSeparator = "\r\n\r\n";

// Bytes below the space, and DEL, are control characters.
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kSpace = ' ';
// A code page 936 character of two bytes: a lead byte, then a trail byte other than DEL.
constexpr unsigned char kFirstLeadByte = 0x81;
constexpr unsigned char kLastLeadByte = 0xFE;
constexpr unsigned char kFirstTrailByte = 0x40;
constexpr unsigned char kLastTrailByte = 0xFE;

bool isTrailByte(unsigned char byte) { return byte >= kFirstTrailByte && byte <= kLastTrailByte && byte != kDelete; }

// Where the latest message of a chunk begins: after its last blank line, or at its start. The
// search runs forward, where the library looks for the separator's first byte a block at a
// time (as the robot's search for the last line does), so that a large chunk costs about as
// much as reading it once. Two separators overlap by a line end at most.
size_t latestMessageStart(std::string_view chunk)
{
    size_t start = 0;
    for (size_t found = chunk.find(kMessageSeparator); found != std::string_view::npos; found = chunk.find(kMessageSeparator, found + kLineEnd.size()))
        start = found + kMessageSeparator.size();
    return start;
}

} // namespace

bool isAcceptableName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxMemberNameBytes)
        return false;
    bool showsSomething = false;
    for (size_t at = 0; at < name.size(); ++at) {
        auto byte = static_cast<unsigned char>(name[at]);
        if (byte < kFirstPrintable || byte == kDelete)
            return false;
        if (byte < kDelete) {
            showsSomething = showsSomething || byte != kSpace;
            continue;
        }
        if (byte < kFirstLeadByte || byte > kLastLeadByte || at + 1 == name.size() || !isTrailByte(static_cast<unsigned char>(name[at + 1])))
            return false;
        ++at;
        showsSomething = true;
    }
    return showsSomething;
}

std::optional<std::string_view> senderNameOf(std::string_view chunk)
{
    // The latest message's first line is the sender, and a body must follow: a lone line
    // ending in CR LF is what a terminal sends, not a framed message. A line longer than any
    // name is not looked through to its end.
    std::string_view message = chunk.substr(latestMessageStart(chunk));
    size_t lineEnd = message.substr(0, kMaxMemberNameBytes + kLineEnd.size()).find(kLineEnd);
    if (lineEnd == std::string_view::npos || lineEnd + kLineEnd.size() == message.size())
        return std::nullopt;
    std::string_view sender = message.substr(0, lineEnd);
    if (!isAcceptableName(sender))
        return std::nullopt;
    return sender;
}

void MemberNames::heard(std::string_view entry, std::string_view chunk)
{
    if (std::optional<std::string_view> name = senderNameOf(chunk))
        store(entry, *name);
}

bool MemberNames::setName(std::string_view entry, std::string_view name)
{
    if (!isAcceptableName(name))
        return false;
    store(entry, name);
    return true;
}

void MemberNames::forget(std::string_view entry)
{
    // Nobody is told: the entry, and what was shown beside it, are gone already.
    if (auto found = m_names.find(entry); found != m_names.end())
        m_names.erase(found);
}

std::string_view MemberNames::nameOf(std::string_view entry) const
{
    auto found = m_names.find(entry);
    return found == m_names.end() ? std::string_view() : std::string_view(found->second);
}

// A member that keeps its name costs one lookup and one comparison.
void MemberNames::store(std::string_view entry, std::string_view name)
{
    auto found = m_names.find(entry);
    if (found == m_names.end())
        m_names.emplace(entry, name);
    else if (found->second != name)
        found->second.assign(name);
    else
        return;
    if (m_changed)
        m_changed(entry, name);
}
