// The order and number of the local addresses the console shows (see HostInfo.h).
#include "net/HostInfo.h"

namespace {

// The banner has room for this many.
constexpr size_t kMaxAddresses = 10;

} // namespace

TextArray getLocalAddresses()
{
    return orderLocalAddresses(listInterfaceAddresses());
}

// The addresses others can reach come first; loopback ones only fill up what is left.
TextArray orderLocalAddresses(std::vector<InterfaceAddress> found)
{
    TextArray addresses;
    for (bool loopback : { false, true }) {
        for (InterfaceAddress& address : found) {
            if (address.loopback != loopback)
                continue;
            if (static_cast<size_t>(addresses.elementCount()) == kMaxAddresses)
                return addresses;
            addresses.appendElement(std::move(address.text));
        }
    }
    return addresses;
}
