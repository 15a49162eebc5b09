// Request targets and authorities (see RequestTarget.h).
#include "web/RequestTarget.h"

#include <algorithm>

namespace {

constexpr std::string_view kPlainScheme = "http://";

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::optional<Authority> parseAuthority(std::string_view text, std::string_view defaultPort)
{
    size_t hostEnd = text.size();
    if (text.starts_with('[')) {
        hostEnd = text.find(']');
        if (hostEnd == std::string_view::npos)
            return std::nullopt;
        ++hostEnd;
    } else if (size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        hostEnd = colon;
    }
    std::string_view host = text.substr(0, hostEnd);
    std::string_view port = text.substr(hostEnd);
    // User information ("name@host") has no place in what a server is addressed by.
    if (host.empty() || host.find('@') != std::string_view::npos)
        return std::nullopt;
    if (!port.empty()) {
        if (port.front() != ':' || !isDigits(port.substr(1)))
            return std::nullopt;
        port.remove_prefix(1);
        port = port.substr(std::min(port.find_first_not_of('0'), port.size() - 1));
    } else {
        port = defaultPort;
    }
    Authority authority { std::string(host), std::string(port) };
    std::transform(authority.host.begin(), authority.host.end(), authority.host.begin(), asciiLower);
    return authority;
}

std::optional<TargetParts> splitTarget(std::string_view target)
{
    if (target.starts_with('/'))
        return TargetParts { std::string(target), std::nullopt };
    std::string scheme(target.substr(0, kPlainScheme.size()));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), asciiLower);
    if (scheme != kPlainScheme)
        return std::nullopt;
    std::string_view rest = target.substr(kPlainScheme.size());
    size_t authorityEnd = std::min(rest.find('/'), rest.find('?'));
    std::string_view authority = rest.substr(0, authorityEnd);
    if (!parseAuthority(authority))
        return std::nullopt;
    std::string_view afterAuthority = authorityEnd == std::string_view::npos ? std::string_view {} : rest.substr(authorityEnd);
    // An empty path is the same resource as "/" (RFC 9110, section 4.2.3).
    std::string path;
    if (!afterAuthority.starts_with('/'))
        path = "/";
    path += afterAuthority;
    return TargetParts { std::move(path), std::string(authority) };
}
