// The Windows program as the end-to-end suites' target: chatroom-server.exe run under Wine,
// chosen by the environment, and what the harness does in its Wine prefix besides running it.
//
//   CHATROOM_E2E_WINDOWS_SERVER  the built chatroom-server.exe; unset: the Linux program
//   CHATROOM_E2E_WINEPREFIX      the Wine prefix; by default the one of the build that made the
//                                .exe (wine-prefix beside it), whose Wine server and display the
//                                Windows unit tests have already started
//
// Every Windows program is started through scripts/wine-run.sh, which makes the prefix once,
// keeps its Wine server and virtual display alive between the tests' short runs and gives
// each program the same environment.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct WineTarget {
    std::string executable;
    std::string prefix;

    // The command line that runs a Windows program (a path or one of Wine's, as "taskkill")
    // in the prefix.
    std::vector<std::string> commandLine(const std::string& program, const std::vector<std::string>& arguments) const;
    // Runs a program of Wine's own in the prefix, with its output discarded, and returns its
    // exit status.
    int runTool(const std::string& program, const std::vector<std::string>& arguments) const;
    // Whether `pid` is the prefix's Wine server. Under Wine the server, not the program, owns
    // every socket the program opens, the listening one included.
    bool isPrefixServer(pid_t pid) const;
    // Presses Esc on the console from the virtual display the prefix's session draws on, as an
    // administrator would (xdotool: a click on the banner for the focus, then the key), and
    // returns xdotool's exit status. Not a close request by message: this is input, which
    // waits in the window's queue behind whatever the program has posted.
    int pressEscapeOnConsole() const;
    // Removes the room's key, HKEY_CURRENT_USER\SOFTWARE\聊天室, from the prefix's registry, and
    // throws when it is still there afterwards.
    void clearRoomRegistry() const;
};

// The target the environment chooses, or none for the Linux program.
const std::optional<WineTarget>& wineTarget();

// The texts of the message boxes a program showed under Wine, in UTF-8, taken from what Wine's
// message box trace (WINEDEBUG trace+msgbox) wrote to its standard error. Wine traces a
// box's text, not its caption.
std::vector<std::string> tracedMessageBoxTexts(std::string_view standardError);
