// The socket calls the server component is written on. A backend (POSIX sockets, Winsock)
// implements them on non-blocking sockets and folds its error codes into the few outcomes
// the component's logic tells apart; every rule about what to do with an outcome lives in
// TcpServer.cpp.
// Link-time calls, not an object passed down: stateless like the C library's socket calls.
#pragma once

#include "net/SocketHandle.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sockets {

// An IPv4 listener on every local address, non-blocking, able to bind while old connections
// of a restarted server linger (never shared with a second listener). On failure the handle
// is empty and `reason` says why, in words for the administrator.
OwnedSocket openListener(uint16_t port, std::string& reason);

enum class AcceptOutcome {
    Accepted,     // `socket` and `address` are the new connection
    NoneWaiting,  // nothing to take now (or the system is briefly short of memory)
    OutOfHandles, // the process or system has no handle left for it
    Failed,       // that one connection failed before it could be taken; try the next
};
struct Accepted {
    AcceptOutcome outcome = AcceptOutcome::NoneWaiting;
    OwnedSocket socket;
    // "a.b.c.d:port" of the peer; empty when the peer is not IPv4.
    std::string address;
};
Accepted acceptConnection(SocketHandle listener);

enum class IoOutcome {
    Transferred, // `bytes` moved (at least one)
    WouldBlock,  // nothing can move now (also a brief shortage of kernel memory)
    Ended,       // receive only: the peer closed its side
    Failed,      // the connection is broken
};
struct IoResult {
    IoOutcome outcome;
    size_t bytes = 0;
};
IoResult receiveBytes(SocketHandle socket, char* buffer, size_t size);
// Never raises a signal for a peer that has gone.
IoResult sendBytes(SocketHandle socket, const char* data, size_t size);

// Reads and drops up to `limit` bytes of unread input, so that closing does not reset the
// connection (which could destroy what was sent just before).
void discardInput(SocketHandle socket, size_t limit);

// While a connection is open the backend may keep the kernel from holding much of its stream
// unsent (the rest waits in the connection's queue). Closing lifts that: whatever is left is
// handed to the kernel as far as its buffer takes it, and goes on after the close.
void liftUnsentLimit(SocketHandle socket);

// True when the peer has closed or reset the connection, whatever input is still unread.
bool peerHasEnded(SocketHandle socket);

// Which of `sockets` can take data, waiting at most `timeoutMs` for the first one; also a
// socket in error counts, so that the next send names the error.
std::vector<bool> waitUntilWritable(std::span<const SocketHandle> sockets, int timeoutMs);

// True when a new connection took a handle the rest of the program needs (the window system
// and the value store cannot cope with a full table): such a connection is dropped at once.
bool takesReservedHandle(SocketHandle socket);

// A handle held back while handles are plentiful. When none is left, giving it up for a
// moment lets the listener take one pending connection and drop it, instead of staying
// ready for ever and spinning the loop.
class SpareHandle {
public:
    SpareHandle();
    ~SpareHandle();
    SpareHandle(const SpareHandle&) = delete;
    SpareHandle& operator=(const SpareHandle&) = delete;

    bool held() const;
    // Tries to take the spare again (after some handle was freed).
    void retake();
    // Gives the spare up, takes and drops one pending connection, takes the spare again.
    // False when there was no spare or nothing could be taken.
    bool dropPendingConnection(SocketHandle listener);

private:
    std::uintptr_t m_handle;
};

} // namespace sockets
