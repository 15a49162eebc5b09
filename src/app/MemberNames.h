// The names members go by, as they frame their messages: the room's own clients (the web page,
// TCP clients that frame like the room) send a nickname line, CR LF and the body, with CR LF
// CR LF in front of every message after the first. The sender line of a member's latest
// message in that form is its name. A name is what a member claims, not proof of who it is:
// anyone can type any nickname. Names are kept per roster entry, shown beside the entry in the
// console, and forgotten when the entry leaves.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// The longest name kept, in bytes of code page 936: the page's nickname box takes 20
// characters, two bytes each in code page 936. A longer sender line is no name.
inline constexpr size_t kMaxMemberNameBytes = 40;

// True for a name the room keeps: not empty, at most kMaxMemberNameBytes, well-formed code
// page 936 without control characters (which would break a line of the console or of
// `chatroom-server admin names`).
bool isAcceptableName(std::string_view name);

// The sender line of the latest message in a data chunk that has the room's framing, when that
// line is an acceptable name; nothing for a chunk in another form (a terminal's plain line, a
// message cut by the network), which says nothing about its sender's name.
std::optional<std::string_view> senderNameOf(std::string_view chunk);

class MemberNames {
public:
    // Told whenever an entry's name changes, to show it; an empty name: the entry has none.
    using NameChanged = std::function<void(std::string_view entry, std::string_view name)>;

    explicit MemberNames(NameChanged changed = {})
        : m_changed(std::move(changed))
    {
    }

    // A data chunk from the entry's member: its sender line, when in the room's framing,
    // becomes the entry's name. One look at the chunk and one lookup: the relay's cost per
    // message stays what it was.
    void heard(std::string_view entry, std::string_view chunk);
    // The entry's name, as told some other way (a page that joins or renames); false, the
    // name unchanged, when it is not acceptable.
    bool setName(std::string_view entry, std::string_view name);
    // The entry left: its name goes with it.
    void forget(std::string_view entry);
    // The entry's name, or the empty text while it has none.
    std::string_view nameOf(std::string_view entry) const;
    size_t size() const { return m_names.size(); }

private:
    // Lookups by the entry's text without making a string of it.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };
    void store(std::string_view entry, std::string_view name);

    std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> m_names;
    NameChanged m_changed;
};

// Shows an entry's name beside it on the console's roster and in the pages' list of members
// (defined with the relay).
void showMemberName(std::string_view entry, std::string_view name);
