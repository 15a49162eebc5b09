// The request head reader (see HttpRequest.h), after the message syntax of RFC 9112: a
// request line of three parts, then "name: value" lines, then an empty line. Lines may end
// with CR LF or a bare LF, as that RFC lets a server accept.
#include "web/HttpRequest.h"

#include <algorithm>

namespace {

constexpr std::string_view kTokenSymbols = "!#$%&'*+-.^_`|~";
constexpr std::string_view kVersionPrefix = "HTTP/";
constexpr std::string_view kSupportedVersions[] = { "HTTP/1.1", "HTTP/1.0" };
constexpr char kDelete = 0x7F;

bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || kTokenSymbols.find(c) != std::string_view::npos;
}

bool isToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Field values may hold visible characters, blanks and bytes above 0x7F; no other control.
bool isFieldValue(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || c == kDelete;
    });
}

bool isTarget(std::string_view text)
{
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || c == kDelete;
    });
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

// The next line of `text` from `position`, without its line end; advances past it.
std::string_view nextLine(std::string_view text, size_t& position)
{
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos)
        end = text.size();
    std::string_view line = text.substr(position, end - position);
    position = std::min(text.size(), end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Where the head ends (just after its empty line), searching from `from`; npos while it has
// not ended.
size_t headEnd(std::string_view buffer, size_t from)
{
    for (size_t i = buffer.find('\n', from); i != std::string_view::npos; i = buffer.find('\n', i + 1)) {
        size_t next = i + 1;
        if (next < buffer.size() && buffer[next] == '\n')
            return next + 1;
        if (next + 1 < buffer.size() && buffer[next] == '\r' && buffer[next + 1] == '\n')
            return next + 2;
    }
    return std::string_view::npos;
}

} // namespace

std::optional<std::string_view> HttpRequest::field(std::string_view name) const
{
    auto found = std::find_if(fields.begin(), fields.end(), [name](const auto& f) { return f.first == name; });
    if (found == fields.end())
        return std::nullopt;
    return std::string_view(found->second);
}

size_t HttpRequest::fieldCount(std::string_view name) const
{
    return static_cast<size_t>(std::count_if(fields.begin(), fields.end(), [name](const auto& f) { return f.first == name; }));
}

HttpRequestReader::State HttpRequestReader::feed(std::string_view bytes)
{
    m_buffer.append(bytes);
    if (m_state != State::Incomplete)
        return m_state;
    if (!m_lineRead) {
        // Empty lines in front of the request line are skipped, as RFC 9112 advises.
        size_t leading = m_buffer.find_first_not_of("\r\n");
        m_buffer.erase(0, leading == std::string::npos ? m_buffer.size() : leading);
        // The request line is judged as soon as it ends: a client that sent a malformed one
        // (an HTTP/0.9 request has no version) may wait for an answer before it sends more.
        size_t lineEnd = m_buffer.find('\n');
        if (lineEnd == std::string::npos || lineEnd >= kMaxHeadBytes)
            return m_buffer.size() > kMaxHeadBytes ? fail(http_status::kUriTooLong) : m_state;
        size_t position = 0;
        if (parseRequestLine(nextLine(m_buffer, position)) == State::Failed)
            return m_state;
        m_lineRead = true;
        m_scanned = lineEnd;
    }
    // The end of the head may begin up to three bytes before the new ones.
    size_t end = headEnd(m_buffer, m_scanned >= 3 ? m_scanned - 3 : 0);
    m_scanned = m_buffer.size();
    if (end == std::string::npos || end > kMaxHeadBytes) {
        if (m_buffer.size() <= kMaxHeadBytes && end == std::string::npos)
            return m_state;
        return fail(http_status::kHeaderFieldsTooLarge);
    }
    std::string head = m_buffer.substr(0, end);
    m_buffer.erase(0, end);
    return parseFields(head);
}

HttpRequestReader::State HttpRequestReader::fail(HttpStatus status)
{
    m_failure = status;
    m_state = State::Failed;
    return m_state;
}

HttpRequestReader::State HttpRequestReader::parseRequestLine(std::string_view line)
{
    size_t firstSpace = line.find(' ');
    size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos)
        return fail(http_status::kBadRequest);
    std::string_view method = line.substr(0, firstSpace);
    std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::string_view version = line.substr(secondSpace + 1);
    if (!isToken(method) || !isTarget(target))
        return fail(http_status::kBadRequest);
    if (std::find(std::begin(kSupportedVersions), std::end(kSupportedVersions), version) == std::end(kSupportedVersions)) {
        bool otherVersion = version.starts_with(kVersionPrefix) && isTarget(version);
        return fail(otherVersion ? http_status::kVersionNotSupported : http_status::kBadRequest);
    }
    m_request.method = method;
    m_request.target = target;
    m_request.version = version;
    return m_state;
}

HttpRequestReader::State HttpRequestReader::parseFields(std::string_view head)
{
    size_t position = 0;
    nextLine(head, position); // the request line, read already
    for (std::string_view line = nextLine(head, position); !line.empty(); line = nextLine(head, position)) {
        // A line that continues the previous field (obsolete folding) is refused.
        size_t colon = line.find(':');
        if (isBlank(line.front()) || colon == std::string_view::npos)
            return fail(http_status::kBadRequest);
        std::string_view name = line.substr(0, colon);
        std::string_view value = trimBlanks(line.substr(colon + 1));
        if (!isToken(name) || !isFieldValue(value))
            return fail(http_status::kBadRequest);
        m_request.fields.emplace_back(lowerCase(name), std::string(value));
    }
    m_state = State::Complete;
    return m_state;
}
