// The entrance's names (see RoomHosts.h).
#include "web/RoomHosts.h"

#include <algorithm>

namespace {

constexpr std::string_view kLocalHost = "localhost";
constexpr std::string_view kMulticastDomain = ".local";
constexpr int kIpv4Parts = 4;
constexpr int kHighestIpv4Part = 255;
constexpr size_t kMaxIpv4PartDigits = 3;
constexpr int kDecimalBase = 10;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Dotted decimal, as browsers write every IPv4 address (they turn other forms into this one).
bool isIpv4Literal(std::string_view host)
{
    if (std::count(host.begin(), host.end(), '.') != kIpv4Parts - 1)
        return false;
    for (int i = 0; i < kIpv4Parts; ++i) {
        std::string_view part = host.substr(0, host.find('.'));
        if (part.empty() || part.size() > kMaxIpv4PartDigits || !std::all_of(part.begin(), part.end(), isDigit))
            return false;
        int value = 0;
        for (char digit : part)
            value = value * kDecimalBase + (digit - '0');
        if (value > kHighestIpv4Part)
            return false;
        host.remove_prefix(std::min(host.size(), part.size() + 1));
    }
    return true;
}

// In brackets only an IPv6 address can stand: hexadecimal groups and colons, perhaps an IPv4
// address at the end. A name cannot, which is all this rule needs to know.
bool isIpv6Literal(std::string_view host)
{
    if (host.size() < 2 || host.front() != '[' || host.back() != ']')
        return false;
    std::string_view inside = host.substr(1, host.size() - 2);
    return std::count(inside.begin(), inside.end(), ':') >= 2
        && inside.find_first_not_of("0123456789abcdef:.") == std::string_view::npos;
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

std::string_view withoutTrailingDot(std::string_view name)
{
    if (name.ends_with('.'))
        name.remove_suffix(1);
    return name;
}

} // namespace

RoomHosts::RoomHosts(std::string_view machineName, const std::vector<std::string>& addedNames)
{
    addName(kLocalHost);
    machineName = withoutTrailingDot(machineName);
    if (!machineName.empty()) {
        addName(machineName);
        addName(std::string(machineName.substr(0, machineName.find('.'))) + std::string(kMulticastDomain));
    }
    for (const std::string& name : addedNames)
        addName(withoutTrailingDot(name));
}

void RoomHosts::addName(std::string_view name)
{
    if (!name.empty())
        m_names.push_back(lowerCase(name));
}

bool RoomHosts::admits(std::string_view host) const
{
    std::string lower = lowerCase(host);
    if (isIpv4Literal(lower) || isIpv6Literal(lower))
        return true;
    std::string_view name = withoutTrailingDot(lower);
    return !name.empty() && std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}
