// Where a request is addressed: the path of its target, and the authority ("host[:port]") that
// names the server, from the Host field or from an absolute-form target, which RFC 9112
// (section 3.2.2) has a server accept and prefer to Host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A host, lower-case (an IPv6 literal keeps its brackets), and its decimal port without
// leading zeros.
struct Authority {
    std::string host;
    std::string port;
    bool operator==(const Authority&) const = default;
};

inline constexpr std::string_view kPlainDefaultPort = "80";

// "host[:port]", the port `defaultPort` when none is written; nothing when the text is not of
// that shape.
std::optional<Authority> parseAuthority(std::string_view text, std::string_view defaultPort = kPlainDefaultPort);

struct TargetParts {
    // The path with its query, as an origin-form target writes it ("/" for an absolute-form
    // target without a path).
    std::string path;
    // The authority an absolute-form target names; nothing for an origin-form target.
    std::optional<std::string> authority;
};

// An origin-form target ("/path?query") or an absolute-form one with the http scheme
// ("http://authority/path?query"); nothing for anything else (another scheme, user
// information before the host, no host).
std::optional<TargetParts> splitTarget(std::string_view target);
