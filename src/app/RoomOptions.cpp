// The room's own options (see RoomOptions.h).
#include "app/RoomOptions.h"

#include "net/TcpServer.h"

#include <charconv>

namespace {

constexpr std::string_view kWebPortOption = "--web-port";
constexpr std::string_view kNoWebOption = "--no-web";
constexpr uint32_t kHighestPort = 65535;

std::optional<uint16_t> portNumber(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > kHighestPort)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

} // namespace

bool startsWithRoomOption(const std::vector<std::string_view>& arguments)
{
    return !arguments.empty() && (arguments.front().starts_with(kWebPortOption) || arguments.front() == kNoWebOption);
}

std::optional<RoomOptions> parseRoomOptions(const std::vector<std::string_view>& arguments, std::string& problem)
{
    RoomOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == kNoWebOption) {
            options.webPort.reset();
            continue;
        }
        std::string_view value;
        if (argument == kWebPortOption) {
            if (i + 1 == arguments.size()) {
                problem = "--web-port needs a port number";
                return std::nullopt;
            }
            value = arguments[++i];
        } else if (argument.starts_with(kWebPortOption) && argument[kWebPortOption.size()] == '=') {
            value = argument.substr(kWebPortOption.size() + 1);
        } else {
            problem = "unknown argument '" + std::string(argument) + "'";
            return std::nullopt;
        }
        std::optional<uint16_t> port = portNumber(value);
        if (!port) {
            problem = "--web-port takes a port number from 1 to 65535, not '" + std::string(value) + "'";
            return std::nullopt;
        }
        if (*port == TcpServer::kDefaultPort) {
            problem = "--web-port cannot be the room's own port " + std::to_string(TcpServer::kDefaultPort);
            return std::nullopt;
        }
        options.webPort = port;
    }
    return options;
}
