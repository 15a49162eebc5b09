// The Windows program under Wine as the suites' target (see WineTarget.h).
#include "WineTarget.h"

#include "ProgramRun.h"
#include "support/TempDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

constexpr std::u8string_view kRoomKey = u8"HKEY_CURRENT_USER\\SOFTWARE\\聊天室";
// The tree whose export shows whether the room's key is there.
constexpr std::string_view kSoftwareKey = "HKEY_CURRENT_USER\\Software";
constexpr std::string_view kMessageBoxTrace = ":trace:msgbox:MSGBOX_OnInit L\"";
constexpr size_t kTraceHexDigits = 4;
constexpr std::u8string_view kConsoleCaption = u8"聊天室服务器";
// A point of the console's banner box, in the window's client area: a click there gives the
// console the focus and opens nothing.
constexpr std::string_view kBannerPoint = "100 15";

std::u16string utf16Of(std::u8string_view text)
{
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        char32_t point = length == 1 ? byte : byte & (0x3F >> (length - 1));
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (point >= 0x10000) {
            point -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (point >> 10));
            units += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
        } else {
            units += static_cast<char16_t>(point);
        }
    }
    return units;
}

void appendUtf8(std::string& out, char32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::string utf8Of(const std::u16string& units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t point = units[i];
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < units.size()) {
            point = 0x10000 + ((point - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, point);
    }
    return out;
}

// Little-endian UTF-16 with its byte order mark, as regedit writes and reads .reg files: the
// key's name needs no code page on its way in or out.
std::string regFileBytes(std::u8string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : utf16Of(text)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// A Linux path as the Windows programs of the prefix name it: Wine's drive Z: is the root.
std::string windowsPath(const std::string& path) { return "Z:" + path; }

// One traced text: what debugstr_w wrote between the quotes, with its escapes (\n, \r, \t,
// \", \\ and \XXXX for every other unit outside printable ASCII) undone.
std::u16string untraced(std::string_view escaped)
{
    std::u16string units;
    for (size_t i = 0; i < escaped.size() && escaped[i] != '"'; ++i) {
        if (escaped[i] != '\\' || i + 1 >= escaped.size()) {
            units += static_cast<char16_t>(static_cast<unsigned char>(escaped[i]));
            continue;
        }
        char next = escaped[++i];
        switch (next) {
        case 'n': units += u'\n'; break;
        case 'r': units += u'\r'; break;
        case 't': units += u'\t'; break;
        case '"':
        case '\\': units += static_cast<char16_t>(next); break;
        default:
            units += static_cast<char16_t>(std::stoul(std::string(escaped.substr(i, kTraceHexDigits)), nullptr, 16));
            i += kTraceHexDigits - 1;
        }
    }
    return units;
}

} // namespace

std::vector<std::string> WineTarget::commandLine(const std::string& program, const std::vector<std::string>& arguments) const
{
    std::vector<std::string> words { CHATROOM_WINE_RUN, "--prefix", prefix, program };
    words.insert(words.end(), arguments.begin(), arguments.end());
    return words;
}

int WineTarget::runTool(const std::string& program, const std::vector<std::string>& arguments) const
{
    std::vector<std::string> words = commandLine(program, arguments);
    ProgramOptions options;
    options.executable = words.front();
    options.arguments.assign(words.begin() + 1, words.end());
    return runProgram(options).status;
}

bool WineTarget::isPrefixServer(pid_t pid) const
{
    // The server works in a directory named after the prefix's device and inode numbers.
    struct stat prefixStatus {};
    if (stat(prefix.c_str(), &prefixStatus) != 0)
        return false;
    char expected[64];
    std::snprintf(expected, sizeof expected, "server-%llx-%llx", static_cast<unsigned long long>(prefixStatus.st_dev),
        static_cast<unsigned long long>(prefixStatus.st_ino));
    std::error_code error;
    fs::path directory = fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
    return !error && directory.filename() == expected;
}

int WineTarget::pressEscapeOnConsole() const
{
    // wine-run.sh records the display the session was started on, and its X authority.
    std::string display = readWholeFile(prefix + "/.chatroom-session");
    while (!display.empty() && (display.back() == '\n' || display.back() == ' '))
        display.pop_back();
    ProgramOptions options;
    options.executable = "/bin/sh";
    options.arguments = { "-c",
        "DISPLAY=\"$1\" XAUTHORITY=\"$2\" exec xdotool search --sync --onlyvisible --name \"$3\" mousemove --window %1 " + std::string(kBannerPoint)
            + " click 1 key Escape",
        "press-escape", display, prefix + "/.chatroom-xauthority", std::string(kConsoleCaption.begin(), kConsoleCaption.end()) };
    return runProgram(options).status;
}

void WineTarget::clearRoomRegistry() const
{
    test_support::TempDirectory files("chatroom-e2e-registry");
    std::string removal = files.path() + "/remove.reg";
    std::string exported = files.path() + "/software.reg";
    std::u8string text = u8"Windows Registry Editor Version 5.00\r\n\r\n[-";
    text += kRoomKey;
    text += u8"]\r\n";
    std::ofstream(removal, std::ios::binary) << regFileBytes(text);
    runTool("regedit", { "/s", windowsPath(removal) });

    if (runTool("regedit", { "/e", windowsPath(exported), std::string(kSoftwareKey) }) != 0)
        throw std::runtime_error("regedit could not export " + std::string(kSoftwareKey) + " from " + prefix);
    std::string tree = readWholeFile(exported);
    // A key of the room would show as "[HKEY_CURRENT_USER\Software\聊天室".
    std::string roomName = regFileBytes(u8"\\聊天室").substr(2);
    if (tree.empty() || tree.find(roomName) != std::string::npos)
        throw std::runtime_error("the room's registry key is still in " + prefix);
}

const std::optional<WineTarget>& wineTarget()
{
    static const std::optional<WineTarget> target = []() -> std::optional<WineTarget> {
        const char* executable = std::getenv("CHATROOM_E2E_WINDOWS_SERVER");
        if (!executable || !*executable)
            return std::nullopt;
        const char* prefix = std::getenv("CHATROOM_E2E_WINEPREFIX");
        std::string prefixPath = prefix && *prefix ? prefix : (fs::path(executable).parent_path() / "wine-prefix").string();
        return WineTarget { fs::absolute(executable).string(), fs::absolute(prefixPath).string() };
    }();
    return target;
}

std::vector<std::string> tracedMessageBoxTexts(std::string_view standardError)
{
    std::vector<std::string> texts;
    for (size_t at = standardError.find(kMessageBoxTrace); at != std::string_view::npos;
         at = standardError.find(kMessageBoxTrace, at + 1)) {
        size_t start = at + kMessageBoxTrace.size();
        size_t end = standardError.find('\n', start);
        texts.push_back(utf8Of(untraced(standardError.substr(start, end == std::string_view::npos ? end : end - start))));
    }
    return texts;
}
