// The standard message box's rules: the style word's meaning, the default caption, and the
// headless form that prints the text instead of waiting for a button nobody can press.
#include "runtime/MessageBox.h"

#include "runtime/Cp936.h"
#include "runtime/ProgramFrame.h"
#include "runtime/WindowSystem.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kButtonsMask = 0x0F;
constexpr std::string_view kDefaultCaption = "信息：";

MessageBoxIcon iconOf(uint32_t style)
{
    switch (style & kIconMask) {
    case kMessageBoxIconError: return MessageBoxIcon::Error;
    case kMessageBoxIconQuestion: return MessageBoxIcon::Question;
    case kMessageBoxIconWarning: return MessageBoxIcon::Warning;
    case kMessageBoxIconInformation: return MessageBoxIcon::Information;
    default: return MessageBoxIcon::None;
    }
}

MessageBoxButtons buttonsOf(uint32_t style)
{
    switch (style & kButtonsMask) {
    case 1: return MessageBoxButtons::OkCancel;
    case 2: return MessageBoxButtons::AbortRetryIgnore;
    case 3: return MessageBoxButtons::YesNoCancel;
    case 4: return MessageBoxButtons::YesNo;
    case 5: return MessageBoxButtons::RetryCancel;
    default: return MessageBoxButtons::Ok;
    }
}

// Headless: one UTF-8 line on standard error, caption first, as a journal shows it.
void printMessage(std::string_view caption, std::string_view text)
{
    std::string line = cp936ToUtf8(caption) + " " + cp936ToUtf8Lines(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace

MessageBoxStyle decodeMessageBoxStyle(uint32_t style)
{
    return { .icon = iconOf(style), .buttons = buttonsOf(style), .topmost = (style & kMessageBoxTopmost) != 0, .word = style };
}

int32_t messageBox(std::string_view text, uint32_t style, std::optional<std::string_view> caption)
{
    std::string_view title = caption ? *caption : kDefaultCaption;
    WindowSystem* system = programWindowSystem();
    if (!system || system->isHeadless()) {
        printMessage(title, text);
        return static_cast<int32_t>(MessageBoxResult::Ok);
    }
    return static_cast<int32_t>(system->showMessageBox(text, title, decodeMessageBoxStyle(style)));
}
