// The `admin` command's side of the control socket: connects to the room of this user, makes
// sure it is talking to that user's (or root's) room, sends one request line and reads the
// whole answer, within a bounded wait.
#pragma once

#include "app/CommandLine.h"

#include <string_view>

ControlExchange exchangeControlRequest(std::string_view requestLine);

// The transport of the command line on POSIX systems.
ControlTransport posixControlTransport();
