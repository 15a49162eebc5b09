// The line a room without a window prints once it is open, for whoever started it (a terminal,
// the journal of the user service): which TCP port clients connect to and the web address at
// which browsers join, one per address of the machine. The console with a window shows the
// machine's address in its banner instead.
#pragma once

#include "net/HostInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The line, without a line end. `webPort` is the port the web entrance listens on, nothing when
// it is off or could not open its port (then only the TCP port is named). The web addresses
// are those the invite shows (roomAddresses).
std::string roomOpenLine(int32_t tcpPort, std::optional<uint16_t> webPort, const std::vector<InterfaceAddress>& addresses);

// Prints the line for the machine's addresses on standard output, flushed at once, when the
// program runs without a window; nothing with one.
void announceOpenRoom(int32_t tcpPort, std::optional<uint16_t> webPort);
