// Reads one HTTP/1.x request head (request line and header fields) from bytes that arrive
// in pieces, within a fixed size. The request line is judged as soon as it ends, so a client
// that waits after a line it thinks complete (HTTP/0.9) hears at once. The web entrance reads
// nothing else of HTTP: no body, no second request on the connection.
#pragma once

#include "web/HttpStatus.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version; // "HTTP/1.1" or "HTTP/1.0"
    // Header fields in order; names lower-cased, values without surrounding blanks.
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the one field of that (lower-case) name; nothing when it is absent.
    std::optional<std::string_view> field(std::string_view name) const;
    size_t fieldCount(std::string_view name) const;
};

class HttpRequestReader {
public:
    // The request line and every header field, with their line ends and the empty line.
    static constexpr size_t kMaxHeadBytes = 8 * 1024;

    enum class State { Incomplete, Complete, Failed };

    // Takes the next bytes of the connection. Once the head is complete or has failed, further
    // bytes are kept as they are (see rest()).
    State feed(std::string_view bytes);
    State state() const { return m_state; }
    const HttpRequest& request() const { return m_request; }
    // Why the head was refused: 400, 414, 431 or 505.
    HttpStatus failure() const { return m_failure; }
    // What followed the head (the first WebSocket frames, when a client does not wait).
    std::string takeRest() { return std::exchange(m_buffer, {}); }

private:
    State fail(HttpStatus status);
    State parseRequestLine(std::string_view line);
    // The fields of the whole head, whose request line has been read.
    State parseFields(std::string_view head);

    State m_state = State::Incomplete;
    HttpStatus m_failure = http_status::kBadRequest;
    std::string m_buffer;
    size_t m_scanned = 0;
    bool m_lineRead = false;
    HttpRequest m_request;
};
