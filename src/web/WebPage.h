// The room's page as browsers get it: the HTML with its style sheet and script inlined, and
// the Content-Security-Policy that lets exactly that style and that script run (by their
// SHA-256) and nothing else: no other script, no inline handler, nothing from elsewhere,
// connections only back to this entrance. The page also carries the room's web addresses, for
// its invite view: outside the script, so the script and its hash stay the same on every machine.
#pragma once

#include "net/HostInfo.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kStylePlaceholder = "/*CHAT_CSS*/";
inline constexpr std::string_view kScriptPlaceholder = "/*CHAT_JS*/";
// Where the room's addresses go, separated by blanks (in a <meta> of the template).
inline constexpr std::string_view kAddressesPlaceholder = "/*ROOM_ADDRESSES*/";

struct WebPage {
    std::string html;
    std::string contentSecurityPolicy;
};

// Inlines `style` and `script` at their placeholders (the first of each) and hashes the whole
// content of the element each one ends up in, so blanks around a placeholder are allowed.
// `addresses` go to their placeholder.
WebPage buildWebPage(std::string_view htmlTemplate, std::string_view style, std::string_view script,
    std::span<const std::string> addresses = {});

// The addresses people in the room's network open: http://ADDRESS:PORT/ for each interface
// address that is not a loopback one, in interface order; where the machine has no other, the
// loopback ones (then only this machine can join, and the invite shows so). At most ten.
std::vector<std::string> roomAddresses(const std::vector<InterfaceAddress>& found, uint16_t port);
// The page the build embedded, with the machine's addresses as they are now and `port`.
WebPage buildRoomPage(uint16_t port);
