// The line a room without a window prints once it is open (see RoomAnnouncement.h).
#include "app/RoomAnnouncement.h"

#include "runtime/ProgramFrame.h"
#include "web/WebPage.h"

#include <cstdio>

namespace {

constexpr std::string_view kProgramName = "chatroom-server";

} // namespace

std::string roomOpenLine(int32_t tcpPort, std::optional<uint16_t> webPort, const std::vector<InterfaceAddress>& addresses)
{
    std::string line = std::string(kProgramName) + ": the room is open: TCP port " + std::to_string(tcpPort);
    if (!webPort)
        return line;
    // The same addresses as the page's invite shows.
    std::vector<std::string> urls = roomAddresses(addresses, *webPort);
    if (urls.empty())
        return line + "; browsers join on port " + std::to_string(*webPort) + " (this machine has no IPv4 address)";
    line += "; browsers join at";
    for (const std::string& url : urls)
        line += " " + url;
    return line;
}

void announceOpenRoom(int32_t tcpPort, std::optional<uint16_t> webPort)
{
    if (!isHeadless())
        return;
    std::string line = roomOpenLine(tcpPort, webPort, listInterfaceAddresses());
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}
