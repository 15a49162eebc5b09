// A socket as the platform names it (a descriptor on POSIX, a SOCKET on Windows), and its
// owner. The server component only passes handles to the platform's socket operations
// (SocketOperations.h) and to readiness watchers; it never looks inside one.
#pragma once

#include "runtime/UniqueOwner.h"

#include <cstdint>

enum class SocketHandle : std::uintptr_t {};

// No socket: the all-ones value, which is -1 as a descriptor and INVALID_SOCKET on Windows.
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(~std::uintptr_t { 0 });

// Closes the platform's socket at once, without any graceful step; the owner's destructor
// calls it. Implemented by the backend.
void closeSocketHandle(SocketHandle socket);

// What the owner needs to know of a socket.
struct SocketTraits {
    using Handle = SocketHandle;
    static constexpr SocketHandle none() { return kNoSocket; }
    static constexpr bool isHandle(SocketHandle socket) { return socket != kNoSocket; }
    static void close(SocketHandle socket) { closeSocketHandle(socket); }
};

// Owns one socket and closes it when destroyed; moves hand the socket over.
using OwnedSocket = UniqueOwner<SocketTraits>;
