// The local computer's host name and IPv4 addresses, for the console's banner.
// Link-time calls, not an object passed down: they keep no state, asking the system each time.
#pragma once

#include "runtime/TextArray.h"

#include <string>
#include <vector>

// The host name, or the empty text when it cannot be read.
std::string getHostName();
// The IPv4 addresses of the interfaces that are up, non-loopback first, in interface order,
// at most ten, dotted-decimal; empty when there are none.
TextArray getLocalAddresses();

// What the backend supplies for getLocalAddresses: every IPv4 address of the interfaces that
// are up, in interface order, and whether it is a loopback address.
struct InterfaceAddress {
    std::string text; // dotted decimal
    bool loopback = false;
};
std::vector<InterfaceAddress> listInterfaceAddresses();

// getLocalAddresses' rule on a list of interface addresses.
TextArray orderLocalAddresses(std::vector<InterfaceAddress> found);
