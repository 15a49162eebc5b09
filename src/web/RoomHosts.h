// The names the web entrance answers to. A page elsewhere can make a browser's name of its own
// resolve to this machine (DNS rebinding); the browser then sends that name in Host, and in
// Origin, so the Origin rule alone would let the page's visitors in. A request is served only
// when its host is an address literal (which no page can point elsewhere), localhost, the
// machine's own name, or a name the administrator added.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class RoomHosts {
public:
    // `machineName` is the machine's host name (empty when unknown); it is also known as
    // FIRST-LABEL.local, as multicast DNS announces it. `addedNames` are the administrator's.
    // Names compare without regard to case.
    RoomHosts(std::string_view machineName, const std::vector<std::string>& addedNames);

    // Whether `host` (an Authority's host: an IPv6 literal in brackets) names this room; a
    // trailing dot (the fully qualified form) does not matter.
    bool admits(std::string_view host) const;

private:
    void addName(std::string_view name);

    std::vector<std::string> m_names;
};
