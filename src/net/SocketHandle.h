// A socket as the platform names it (a descriptor on POSIX, a SOCKET on Windows), and its
// owner. The server component only passes handles to the platform's socket operations
// (SocketOperations.h) and to readiness watchers; it never looks inside one.
#pragma once

#include <cstdint>
#include <utility>

enum class SocketHandle : std::uintptr_t {};

// No socket: the all-ones value, which is -1 as a descriptor and INVALID_SOCKET on Windows.
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(~std::uintptr_t { 0 });

// Closes the platform's socket at once, without any graceful step; the owner's destructor
// calls it. Implemented by the backend.
void closeSocketHandle(SocketHandle socket);

// Owns one socket and closes it when destroyed; moves hand the socket over.
class OwnedSocket {
public:
    OwnedSocket() = default;
    explicit OwnedSocket(SocketHandle socket)
        : m_socket(socket)
    {
    }
    ~OwnedSocket() { reset(); }
    OwnedSocket(OwnedSocket&& other) noexcept
        : m_socket(std::exchange(other.m_socket, kNoSocket))
    {
    }
    OwnedSocket& operator=(OwnedSocket&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_socket = std::exchange(other.m_socket, kNoSocket);
        }
        return *this;
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;

    SocketHandle get() const { return m_socket; }
    bool valid() const { return m_socket != kNoSocket; }
    explicit operator bool() const { return valid(); }

    void reset()
    {
        if (valid())
            closeSocketHandle(std::exchange(m_socket, kNoSocket));
    }

private:
    SocketHandle m_socket = kNoSocket;
};
