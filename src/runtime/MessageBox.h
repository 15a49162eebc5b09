// The standard message box: style flags choose the icon and the buttons, the result is the
// pressed button's number (OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6).
// Without a display nobody can answer, so the text goes to standard error and OK is returned.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

constexpr uint32_t kMessageBoxIconError = 0x10;

// `text` and `caption` are code page 936 texts; an omitted caption shows "信息：".
int32_t messageBox(std::string_view text, uint32_t style, std::optional<std::string_view> caption = std::nullopt);
