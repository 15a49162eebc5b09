// The HTTP statuses the web entrance answers with.
#pragma once

#include <string_view>

struct HttpStatus {
    int code;
    std::string_view reason;
    bool operator==(const HttpStatus& other) const { return code == other.code; }
};

namespace http_status {
inline constexpr HttpStatus kOk { 200, "OK" };
inline constexpr HttpStatus kSwitchingProtocols { 101, "Switching Protocols" };
inline constexpr HttpStatus kBadRequest { 400, "Bad Request" };
inline constexpr HttpStatus kForbidden { 403, "Forbidden" };
inline constexpr HttpStatus kNotFound { 404, "Not Found" };
inline constexpr HttpStatus kMethodNotAllowed { 405, "Method Not Allowed" };
inline constexpr HttpStatus kRequestTimeout { 408, "Request Timeout" };
inline constexpr HttpStatus kUriTooLong { 414, "URI Too Long" };
inline constexpr HttpStatus kMisdirectedRequest { 421, "Misdirected Request" };
inline constexpr HttpStatus kUpgradeRequired { 426, "Upgrade Required" };
inline constexpr HttpStatus kHeaderFieldsTooLarge { 431, "Request Header Fields Too Large" };
inline constexpr HttpStatus kServiceUnavailable { 503, "Service Unavailable" };
inline constexpr HttpStatus kVersionNotSupported { 505, "HTTP Version Not Supported" };
} // namespace http_status
