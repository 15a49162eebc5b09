// The command line: help, and the `admin` requests (see CommandLine.h).
#include "admin/CommandLine.h"

#include "admin/AdminProtocol.h"
#include "app/RoomOptions.h"

namespace {

constexpr std::string_view kProgram = "chatroom-server";
constexpr std::string_view kAdminWord = "admin";

// UTF-8 whatever the execution character set of this folder, since terminals read UTF-8.
std::string utf8(std::u8string_view text)
{
    return std::string(text.begin(), text.end());
}

std::string helpText(const ControlTransport& transport)
{
    return utf8(u8"usage: chatroom-server [OPTION]...        run the chat room: the console window, or headless\n"
                u8"                                          when there is no display; browsers join it at\n"
                u8"                                          http://ADDRESS:19731/\n"
                u8"         --web-port PORT                  the web entrance listens on PORT instead\n"
                u8"         --no-web                         no web entrance\n"
                u8"         --web-host NAME                  the web entrance also answers to NAME (it answers\n"
                u8"                                          to address literals, localhost and this machine's\n"
                u8"                                          name); may be given more than once\n"
                u8"       chatroom-server admin list         print the connected clients, one address a line,\n"
                u8"                                          in the order of the console's list\n"
                u8"       chatroom-server admin names        the same, each address followed by the name the\n"
                u8"                                          member goes by: what it claims, not proof\n"
                u8"       chatroom-server admin VERB ADDRESS do to that client what the console's pop-up menu\n"
                u8"                                          item does; VERB is one of\n"
                u8"                                            kick    踢出  the client is told and disconnected\n"
                u8"                                            shake   抖动  quake   地震  reward  奖励\n"
                u8"                                            mute    禁言  prank   恶搞\n"
                u8"       chatroom-server admin close        close the room as the console's close button does:\n"
                u8"                                          every client is told the room is dissolved\n"
                u8"       chatroom-server --help             this text\n"
                u8"\n"
                u8"The admin commands reach the room that this user runs through its control socket,\n")
        + "  " + transport.endpointDescription + "\n"
        + utf8(u8"which only this user and root may use. The commands believe only a room that runs as\n"
               u8"this same user (root's reach only root's), with its socket in a directory of this user's\n"
               u8"that nobody else may enter (mode 0700). ADDRESS is as `admin list` prints it.\n"
               u8"\n"
               u8"Exit status: 0 done, 1 the room could not answer, 2 malformed request,\n"
               u8"3 no server running, 4 no such client, 5 permission refused.\n");
}

CommandOutcome failure(int exitStatus, std::string_view message)
{
    return { exitStatus, {}, std::string(kProgram) + ": " + std::string(message) + "\n" };
}

CommandOutcome outcomeOfAnswer(const std::string& answer)
{
    std::optional<AdminReply> reply = parseAdminReply(answer);
    if (!reply)
        return failure(kExitFailed, "the room's answer was cut off or not understood");
    if (reply->status != AdminStatus::Ok) {
        std::string_view reason = reply->status == AdminStatus::Malformed ? "malformed request: "
            : reply->status == AdminStatus::Refused                       ? "permission refused: "
                                                                          : "";
        return failure(exitStatusFor(reply->status), std::string(reason) + reply->message);
    }
    CommandOutcome outcome;
    for (const std::string& client : reply->clients)
        outcome.standardOutput += client + "\n";
    return outcome;
}

CommandOutcome runAdmin(const std::vector<std::string_view>& words, const ControlTransport& transport)
{
    if (words.empty())
        return failure(kExitMalformed, "admin needs a request; see chatroom-server --help");
    std::string line;
    for (std::string_view word : words) {
        if (!line.empty())
            line += ' ';
        line += word;
    }
    std::string problem;
    std::optional<AdminRequest> request = parseAdminRequest(line, problem);
    if (!request)
        return failure(kExitMalformed, "malformed request: " + problem + "; see chatroom-server --help");

    ControlExchange exchange = transport.exchange(formatAdminRequest(*request));
    switch (exchange.outcome) {
    case ControlExchange::Outcome::Answered:
        return outcomeOfAnswer(exchange.answer);
    case ControlExchange::Outcome::NoServer:
        return failure(kExitNoServer, "no server is running: " + exchange.detail);
    case ControlExchange::Outcome::Refused:
        return failure(kExitRefused, "permission refused: " + exchange.detail);
    case ControlExchange::Outcome::Failed:
        break;
    }
    return failure(kExitFailed, exchange.detail);
}

} // namespace

std::optional<CommandOutcome> runCommandLine(const std::vector<std::string_view>& arguments, const ControlTransport& transport)
{
    if (arguments.empty())
        return std::nullopt;
    std::string_view first = arguments.front();
    if (first == "--help" || first == "-h" || (first == kAdminWord && arguments.size() == 2 && arguments[1] == "--help"))
        return CommandOutcome { kExitDone, helpText(transport), {} };
    if (first == kAdminWord)
        return runAdmin({ arguments.begin() + 1, arguments.end() }, transport);
    if (startsWithRoomOption(arguments)) {
        std::string problem;
        if (parseRoomOptions(arguments, problem))
            return std::nullopt;
        return failure(kExitMalformed, problem + "; chatroom-server --help lists what it takes");
    }
    return failure(kExitMalformed, "unknown argument '" + std::string(first) + "'; chatroom-server --help lists what it takes");
}
