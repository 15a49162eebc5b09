// The `admin` command's side of the control socket: checks that the control directory is this
// user's own private directory, connects to the room, makes sure the room runs as this same
// user (root's command talks only to root's room), sends one request line and reads the whole
// answer, within a bounded wait.
#pragma once

#include "admin/CommandLine.h"

#include <string_view>

ControlExchange exchangeControlRequest(std::string_view requestLine);

// The transport of the command line on POSIX systems.
ControlTransport posixControlTransport();
