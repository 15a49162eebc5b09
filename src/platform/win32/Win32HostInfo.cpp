// Host name and local IPv4 addresses on Win32. The addresses come from the adapters
// (GetAdaptersAddresses) rather than from resolving the host name, so that both backends
// list the same thing: the addresses of what is up, those a client elsewhere could use first.
#include "net/HostInfo.h"

#include "platform/win32/CodePage936.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxHostNameBytes = 255;
// The size Microsoft suggests for a first try; a busy machine may need a second.
constexpr ULONG kInitialAdapterBufferBytes = 15 * 1024;
constexpr int kAdapterQueryAttempts = 3;
constexpr uint8_t kLoopbackNetwork = 127;

// The adapter list, asked for again with the size the system names while it grows.
std::vector<unsigned char> queryAdapters()
{
    constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = kInitialAdapterBufferBytes;
    for (int attempt = 0; attempt < kAdapterQueryAttempts; ++attempt) {
        std::vector<unsigned char> buffer(size);
        auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        ULONG result = GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &size);
        if (result == ERROR_SUCCESS)
            return buffer;
        if (result != ERROR_BUFFER_OVERFLOW)
            break;
    }
    return {};
}

std::string dottedDecimal(const in_addr& address)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&address.s_addr);
    return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' + std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
}

bool isLoopback(const IP_ADAPTER_ADDRESSES& adapter, const in_addr& address)
{
    return adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK || reinterpret_cast<const uint8_t*>(&address.s_addr)[0] == kLoopbackNetwork;
}

} // namespace

std::string getHostName()
{
    // The DNS host name, as gethostname gives it, without starting the socket library.
    wchar_t name[kMaxHostNameBytes + 1];
    DWORD length = static_cast<DWORD>(std::size(name));
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length))
        return {};
    std::string text = wideToCp936(std::wstring_view(name, length));
    if (text.size() > kMaxHostNameBytes)
        text.resize(kMaxHostNameBytes);
    return text;
}

std::vector<InterfaceAddress> listInterfaceAddresses()
{
    std::vector<unsigned char> buffer = queryAdapters();
    std::vector<InterfaceAddress> addresses;
    if (buffer.empty())
        return addresses;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp)
            continue;
        for (IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (!socketAddress || socketAddress->sa_family != AF_INET)
                continue;
            const in_addr& address = reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr;
            addresses.push_back({ dottedDecimal(address), isLoopback(*adapter, address) });
        }
    }
    return addresses;
}
