// The control protocol's lines (see AdminProtocol.h).
#include "admin/AdminProtocol.h"

#include "runtime/Text.h"

#include <array>
#include <utility>

namespace {

struct VerbName {
    AdminVerb verb;
    std::string_view word;
    bool takesAddress;
};

constexpr std::array<VerbName, 9> kVerbs { {
    { AdminVerb::List, "list", false },
    { AdminVerb::Names, "names", false },
    { AdminVerb::Close, "close", false },
    { AdminVerb::Kick, "kick", true },
    { AdminVerb::Shake, "shake", true },
    { AdminVerb::Quake, "quake", true },
    { AdminVerb::Reward, "reward", true },
    { AdminVerb::Mute, "mute", true },
    { AdminVerb::Prank, "prank", true },
} };

constexpr std::array<std::pair<AdminStatus, std::string_view>, 5> kStatusWords { {
    { AdminStatus::Ok, "ok" },
    { AdminStatus::Malformed, "malformed" },
    { AdminStatus::NoSuchClient, "no-such-client" },
    { AdminStatus::Refused, "refused" },
    { AdminStatus::Unavailable, "unavailable" },
} };

constexpr std::string_view kClientWord = "client";
constexpr char kLineEnd = '\n';
constexpr char kCarriageReturn = '\r';
// Printable ASCII, the space excluded: what a word may be made of.
constexpr char kFirstWordByte = '!';
constexpr char kLastWordByte = '~';
// Stands for a byte of a message that would break its line.
constexpr char kReplacement = '?';
// Control characters: below the space, and DEL.
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

bool isSeparator(char byte) { return byte == ' ' || byte == '\t'; }
bool isWordByte(char byte) { return byte >= kFirstWordByte && byte <= kLastWordByte; }

const VerbName* findVerb(std::string_view word)
{
    for (const VerbName& verb : kVerbs) {
        if (verb.word == word)
            return &verb;
    }
    return nullptr;
}

const VerbName& nameOf(AdminVerb verb)
{
    for (const VerbName& name : kVerbs) {
        if (name.verb == verb)
            return name;
    }
    return kVerbs.front();
}

std::optional<AdminStatus> statusOfWord(std::string_view word)
{
    for (const auto& [status, name] : kStatusWords) {
        if (name == word)
            return status;
    }
    return std::nullopt;
}

std::string_view wordOfStatus(AdminStatus status)
{
    for (const auto& [known, name] : kStatusWords) {
        if (known == status)
            return name;
    }
    return kStatusWords.front().second;
}

// Splits at runs of separators; false when a byte is neither a separator nor printable.
bool splitWords(std::string_view line, std::vector<std::string_view>& words)
{
    size_t start = 0;
    while (start < line.size()) {
        if (isSeparator(line[start])) {
            ++start;
            continue;
        }
        size_t end = start;
        while (end < line.size() && !isSeparator(line[end])) {
            if (!isWordByte(line[end]))
                return false;
            ++end;
        }
        words.push_back(line.substr(start, end - start));
        start = end;
    }
    return true;
}

} // namespace

std::string_view verbWord(AdminVerb verb) { return nameOf(verb).word; }
bool verbTakesAddress(AdminVerb verb) { return nameOf(verb).takesAddress; }

std::optional<AdminRequest> parseAdminRequest(std::string_view line, std::string& problem)
{
    if (!line.empty() && line.back() == kCarriageReturn)
        line.remove_suffix(1);
    if (line.size() > kMaxAdminRequestBytes) {
        problem = "the request is longer than " + std::to_string(kMaxAdminRequestBytes) + " bytes";
        return std::nullopt;
    }
    std::vector<std::string_view> words;
    if (!splitWords(line, words)) {
        problem = "the request holds a byte that is not printable ASCII";
        return std::nullopt;
    }
    if (words.empty()) {
        problem = "the request is empty";
        return std::nullopt;
    }
    const VerbName* verb = findVerb(words.front());
    if (!verb) {
        problem = "unknown request '" + std::string(words.front()) + "'";
        return std::nullopt;
    }
    size_t expectedWords = verb->takesAddress ? 2 : 1;
    if (words.size() != expectedWords) {
        problem = concatText("'", verb->word, verb->takesAddress ? "' takes one client address" : "' takes no argument");
        return std::nullopt;
    }
    AdminRequest request;
    request.verb = verb->verb;
    if (verb->takesAddress)
        request.address = std::string(words[1]);
    return request;
}

std::string formatAdminRequest(const AdminRequest& request)
{
    std::string line(verbWord(request.verb));
    if (verbTakesAddress(request.verb))
        line += ' ' + request.address;
    return line + kLineEnd;
}

std::string clientLine(std::string_view address)
{
    return std::string(kClientWord) + ' ' + std::string(address) + kLineEnd;
}

std::string namedClientLine(std::string_view address, std::string_view utf8Name)
{
    std::string line = std::string(kClientWord) + ' ' + std::string(address);
    if (!utf8Name.empty()) {
        line += ' ';
        for (char byte : utf8Name) {
            auto code = static_cast<unsigned char>(byte);
            line += code < kFirstPrintable || code == kDelete ? kReplacement : byte;
        }
    }
    return line + kLineEnd;
}

std::string statusLine(AdminStatus status, std::string_view message)
{
    std::string line(wordOfStatus(status));
    if (!message.empty()) {
        line += ' ';
        for (char byte : message)
            line += isWordByte(byte) || byte == ' ' ? byte : kReplacement;
    }
    return line + kLineEnd;
}

std::string answerForProblem(ControlProblem problem)
{
    switch (problem) {
    case ControlProblem::NotPermitted:
        return statusLine(AdminStatus::Refused, "only the user who runs the room, or root, may control it");
    case ControlProblem::TooLong:
        return statusLine(AdminStatus::Malformed, "the request is longer than " + std::to_string(kMaxAdminRequestBytes) + " bytes");
    case ControlProblem::Unterminated:
        return statusLine(AdminStatus::Malformed, "the request ended without a line end");
    case ControlProblem::Closing:
        return statusLine(AdminStatus::Unavailable, "the room is closing");
    case ControlProblem::Crowded:
        return statusLine(AdminStatus::Unavailable, "the room has no descriptor left but the one kept for an administrator, who is being answered; try again");
    case ControlProblem::Dropped:
        break;
    }
    return statusLine(AdminStatus::Unavailable, "too many control connections at once; the oldest idle one was dropped");
}

std::optional<AdminReply> parseAdminReply(std::string_view text)
{
    AdminReply reply;
    while (!text.empty()) {
        size_t end = text.find(kLineEnd);
        if (end == std::string_view::npos)
            return std::nullopt; // a line without its end: cut off
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        size_t space = line.find(' ');
        std::string_view word = line.substr(0, space);
        std::string_view rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (word == kClientWord) {
            reply.clients.emplace_back(rest);
            continue;
        }
        std::optional<AdminStatus> status = statusOfWord(word);
        if (!status || !text.empty())
            return std::nullopt;
        reply.status = *status;
        reply.message = std::string(rest);
        return reply;
    }
    return std::nullopt; // no status line
}

int exitStatusFor(AdminStatus status)
{
    switch (status) {
    case AdminStatus::Ok: return kExitDone;
    case AdminStatus::Malformed: return kExitMalformed;
    case AdminStatus::NoSuchClient: return kExitNoSuchClient;
    case AdminStatus::Refused: return kExitRefused;
    case AdminStatus::Unavailable: return kExitFailed;
    }
    return kExitFailed;
}
