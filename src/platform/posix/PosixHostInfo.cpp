// Host name and local IPv4 addresses for the console's banner. The addresses come from the
// interfaces rather than from resolving the host name, because a Debian resolver answers the
// host name with 127.0.1.1 from /etc/hosts, which tells a client nothing.
#include "net/HostInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <vector>

std::string getHostName()
{
    char name[256];
    if (gethostname(name, sizeof name) != 0)
        return {};
    // gethostname need not terminate a name that fills the buffer.
    name[sizeof name - 1] = '\0';
    return name;
}

std::vector<InterfaceAddress> listInterfaceAddresses()
{
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return {};

    std::vector<InterfaceAddress> addresses;
    for (ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        char text[INET_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            continue;
        addresses.push_back({ text, (entry->ifa_flags & IFF_LOOPBACK) != 0 });
    }
    freeifaddrs(interfaces);
    return addresses;
}
