// The room's own options (see RoomOptions.h).
#include "app/RoomOptions.h"

#include "net/TcpServer.h"

#include <charconv>

namespace {

constexpr std::string_view kWebPortOption = "--web-port";
constexpr std::string_view kNoWebOption = "--no-web";
constexpr std::string_view kHistoryOption = "--history";
constexpr uint32_t kHighestPort = 65535;

std::optional<uint16_t> portNumber(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > kHighestPort)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::optional<size_t> countNumber(std::string_view text)
{
    size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "COUNT" or "COUNT,BYTES"; a count alone keeps the default bound on bytes.
std::optional<HistoryBounds> historyBounds(std::string_view text)
{
    HistoryBounds bounds;
    size_t comma = text.find(',');
    std::optional<size_t> count = countNumber(text.substr(0, comma));
    if (!count)
        return std::nullopt;
    bounds.messages = *count;
    if (comma != std::string_view::npos) {
        std::optional<size_t> bytes = countNumber(text.substr(comma + 1));
        if (!bytes)
            return std::nullopt;
        bounds.bytes = *bytes;
    }
    return bounds;
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; nothing when `argument`
// is not that option. Moves `i` past a separate value.
std::optional<std::string_view> optionValue(const std::vector<std::string_view>& arguments, size_t& i, std::string_view name, std::string& problem)
{
    std::string_view argument = arguments[i];
    if (argument == name) {
        if (i + 1 == arguments.size()) {
            problem = std::string(name) + " needs a value";
            return std::string_view {};
        }
        return arguments[++i];
    }
    if (argument.starts_with(name) && argument.size() > name.size() && argument[name.size()] == '=')
        return argument.substr(name.size() + 1);
    return std::nullopt;
}

} // namespace

bool startsWithRoomOption(const std::vector<std::string_view>& arguments)
{
    return !arguments.empty()
        && (arguments.front().starts_with(kWebPortOption) || arguments.front() == kNoWebOption || arguments.front().starts_with(kHistoryOption));
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
        if (std::optional<std::string_view> value = optionValue(arguments, i, kHistoryOption, problem)) {
            std::optional<HistoryBounds> bounds = problem.empty() ? historyBounds(*value) : std::nullopt;
            if (!bounds) {
                if (problem.empty())
                    problem = "--history takes COUNT or COUNT,BYTES (0 switches it off), not '" + std::string(*value) + "'";
                return std::nullopt;
            }
            options.history = *bounds;
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
