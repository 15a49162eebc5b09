// The standard message box: style flags choose the icon and the buttons, the result is the
// pressed button's number (OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6, and the
// newer buttons that Windows can show: Close 7, Help 8, Try Again 9, Continue 10).
// Without a display nobody can answer, so the text goes to standard error and OK is returned.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The style word as callers give it: icon in bits 4-7, buttons in bits 0-3, topmost in bit 12
// (on Windows the word is the message box's own: bit 12 is system-modal, which stays on top).
constexpr uint32_t kMessageBoxIconError = 0x10;
constexpr uint32_t kMessageBoxIconQuestion = 0x20;
constexpr uint32_t kMessageBoxIconWarning = 0x30;
constexpr uint32_t kMessageBoxIconInformation = 0x40;
constexpr uint32_t kMessageBoxTopmost = 0x1000;

enum class MessageBoxIcon { None, Error, Question, Warning, Information };
enum class MessageBoxButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MessageBoxResult : int32_t { Ok = 0, Cancel = 1, Abort = 2, Retry = 3, Ignore = 4, Yes = 5, No = 6, Close = 7, Help = 8, TryAgain = 9, Continue = 10 };

// The style word decoded once, for whichever dialog a backend shows.
struct MessageBoxStyle {
    MessageBoxIcon icon = MessageBoxIcon::None;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
    bool topmost = false;
    // The whole word, for a backend whose message box reads it as it is (Windows).
    uint32_t word = 0;
};
MessageBoxStyle decodeMessageBoxStyle(uint32_t style);

// `text` and `caption` are code page 936 texts; an omitted caption shows "信息：".
int32_t messageBox(std::string_view text, uint32_t style, std::optional<std::string_view> caption = std::nullopt);
