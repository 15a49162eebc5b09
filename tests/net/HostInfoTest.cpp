// Host information: the host name and the local IPv4 addresses for the console's banner.
#include "net/HostInfo.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <string>

namespace {

TEST(HostInfo, HostNameIsReadable)
{
    std::string name = getHostName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

TEST(HostInfo, AddressesAreDottedIPv4AtMostTenOutwardFirst)
{
    TextArray addresses = getLocalAddresses();
    EXPECT_LE(addresses.elementCount(), 10);
    bool seenLoopback = false;
    for (int32_t i = 1; i <= addresses.elementCount(); ++i) {
        const std::string& text = addresses.elementAt(i);
        in_addr parsed {};
        EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &parsed), 1) << text;
        bool loopback = text.rfind("127.", 0) == 0;
        // Addresses a client elsewhere could use come before the loopback ones.
        EXPECT_FALSE(seenLoopback && !loopback) << text << " after a loopback address";
        seenLoopback = seenLoopback || loopback;
    }
}

}
