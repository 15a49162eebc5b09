// Descriptors as socket handles: the POSIX backend's one conversion in each direction, and
// where in the descriptor table the clients' part ends.
#pragma once

#include "net/SocketHandle.h"

#include <cstdint>

inline SocketHandle toSocketHandle(int descriptor)
{
    return static_cast<SocketHandle>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(descriptor)));
}

// The lowest descriptor number that is never given to a client: those from here up are kept
// for the rest of the program (see sockets::takesReservedHandle).
int firstReservedDescriptor();

inline int descriptorOf(SocketHandle socket)
{
    return static_cast<int>(static_cast<std::intptr_t>(static_cast<std::uintptr_t>(socket)));
}
