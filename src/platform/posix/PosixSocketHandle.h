// Descriptors as socket handles: the POSIX backend's one conversion in each direction.
#pragma once

#include "net/SocketHandle.h"

#include <cstdint>

inline SocketHandle toSocketHandle(int descriptor)
{
    return static_cast<SocketHandle>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(descriptor)));
}

inline int descriptorOf(SocketHandle socket)
{
    return static_cast<int>(static_cast<std::intptr_t>(static_cast<std::uintptr_t>(socket)));
}
