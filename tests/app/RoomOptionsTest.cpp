// The room's options on the command line: which arguments run the room with which web port
// and web names, and which are refused.
#include "app/RoomOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(RoomOptions, ArgumentsGiveTheWebPortOrARefusal)
{
    struct Case {
        std::vector<std::string_view> arguments;
        bool accepted;
        std::optional<uint16_t> webPort;
    };
    const Case cases[] = {
        { {}, true, 19731 },
        { { "--no-web" }, true, std::nullopt },
        { { "--web-port", "8080" }, true, 8080 },
        { { "--web-port=65535" }, true, 65535 },
        { { "--no-web", "--web-port", "80" }, true, 80 },
        { { "--web-port", "80", "--no-web" }, true, std::nullopt },
        { { "--web-port" }, false, std::nullopt },
        { { "--web-port", "0" }, false, std::nullopt },
        { { "--web-port", "65536" }, false, std::nullopt },
        { { "--web-port", "19730" }, false, std::nullopt },
        { { "--web-port", "+80" }, false, std::nullopt },
        { { "--web-port", "80x" }, false, std::nullopt },
        { { "--web-portx" }, false, std::nullopt },
        { { "--no-web", "admin" }, false, std::nullopt },
    };
    for (const Case& c : cases) {
        std::string problem;
        std::optional<RoomOptions> options = parseRoomOptions(c.arguments, problem);
        std::string shown = c.arguments.empty() ? "(none)" : std::string(c.arguments.front());
        ASSERT_EQ(options.has_value(), c.accepted) << shown << ": " << problem;
        if (options)
            EXPECT_EQ(options->webPort, c.webPort) << shown;
        else
            EXPECT_FALSE(problem.empty()) << shown;
    }
}

TEST(RoomOptions, WebHostsAddUpAndMustBeNames)
{
    struct Case {
        std::vector<std::string_view> arguments;
        bool accepted;
        std::vector<std::string> webHosts;
    };
    const Case cases[] = {
        { { "--web-host", "chat.example", "--web-port", "8080", "--web-host=Room-2" }, true, { "chat.example", "Room-2" } },
        { { "--no-web", "--web-host", "a" }, true, { "a" } },
        { { "--web-host" }, false, {} },
        { { "--web-host=" }, false, {} },
        { { "--web-host", "chat.example:8080" }, false, {} },
        { { "--web-host", "http://chat.example" }, false, {} },
        { { "--web-host", "a b" }, false, {} },
        { { "--web-hostx" }, false, {} },
    };
    for (const Case& c : cases) {
        std::string problem;
        std::optional<RoomOptions> options = parseRoomOptions(c.arguments, problem);
        ASSERT_EQ(options.has_value(), c.accepted) << c.arguments.back() << ": " << problem;
        EXPECT_TRUE(startsWithRoomOption(c.arguments)) << c.arguments.front();
        if (options)
            EXPECT_EQ(options->webHosts, c.webHosts) << c.arguments.back();
        else
            EXPECT_NE(problem.find("--web-host"), std::string::npos) << problem;
    }
}

} // namespace
