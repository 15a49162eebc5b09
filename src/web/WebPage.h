// The room's page as browsers get it: the HTML with its style sheet and script inlined, and
// the Content-Security-Policy that lets exactly that style and that script run (by their
// SHA-256) and nothing else: no other script, no inline handler, nothing from elsewhere,
// connections only back to this entrance.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kStylePlaceholder = "/*CHAT_CSS*/";
inline constexpr std::string_view kScriptPlaceholder = "/*CHAT_JS*/";

struct WebPage {
    std::string html;
    std::string contentSecurityPolicy;
};

// Inlines `style` and `script` at their placeholders (the first of each) and hashes the whole
// content of the element each one ends up in, so blanks around a placeholder are allowed.
WebPage buildWebPage(std::string_view htmlTemplate, std::string_view style, std::string_view script);
// The page the build embedded.
WebPage buildRoomPage();
