// The line a room without a window prints once it is open (see RoomAnnouncement.h).
#include "app/RoomAnnouncement.h"

#include "runtime/ProgramFrame.h"

#include <algorithm>
#include <iterator>
#include <cstdio>

namespace {

constexpr std::string_view kProgramName = "chatroom-server";

// The addresses to name: the reachable ones, or the loopback ones when there is no other, in
// the banner's order and number.
TextArray webHosts(const std::vector<InterfaceAddress>& addresses)
{
    bool reachable = std::any_of(addresses.begin(), addresses.end(), [](const InterfaceAddress& address) { return !address.loopback; });
    std::vector<InterfaceAddress> named;
    std::copy_if(addresses.begin(), addresses.end(), std::back_inserter(named),
        [reachable](const InterfaceAddress& address) { return !reachable || !address.loopback; });
    return orderLocalAddresses(std::move(named));
}

} // namespace

std::string roomOpenLine(int32_t tcpPort, std::optional<uint16_t> webPort, const std::vector<InterfaceAddress>& addresses)
{
    std::string line = std::string(kProgramName) + ": the room is open: TCP port " + std::to_string(tcpPort);
    if (!webPort)
        return line;
    std::string port = std::to_string(*webPort);
    TextArray hosts = webHosts(addresses);
    if (hosts.elementCount() == 0)
        return line + "; browsers join on port " + port + " (this machine has no IPv4 address)";
    line += "; browsers join at";
    for (int32_t index = 1; index <= hosts.elementCount(); ++index)
        line += " http://" + hosts.elementAt(index) + ":" + port + "/";
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
