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
#include <vector>

namespace {

TEST(HostInfo, HostNameIsReadable)
{
    std::string name = getHostName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

// The rule alone, on lists a test machine rarely has (inside a network namespace it has only
// the loopback interface).
TEST(HostInfo, OutwardAddressesFirstInTheirOrderAtMostTen)
{
    auto address = [](int n, bool loopback) { return InterfaceAddress { (loopback ? "127.0.0." : "10.0.0.") + std::to_string(n), loopback }; };
    auto texts = [](const TextArray& array) {
        std::vector<std::string> all;
        for (int32_t i = 1; i <= array.elementCount(); ++i)
            all.push_back(array.elementAt(i));
        return all;
    };
    std::vector<InterfaceAddress> mixed { address(1, true), address(2, false), address(3, true), address(4, false) };
    EXPECT_EQ(texts(orderLocalAddresses(mixed)), (std::vector<std::string> { "10.0.0.2", "10.0.0.4", "127.0.0.1", "127.0.0.3" }));
    std::vector<InterfaceAddress> many { address(1, true) };
    for (int n = 1; n <= 12; ++n)
        many.push_back(address(n, false));
    std::vector<std::string> ordered = texts(orderLocalAddresses(many));
    ASSERT_EQ(ordered.size(), 10u);
    EXPECT_EQ(ordered.front(), "10.0.0.1");
    EXPECT_EQ(ordered.back(), "10.0.0.10");
    EXPECT_TRUE(texts(orderLocalAddresses({})).empty());
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
