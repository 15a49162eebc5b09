// The server component's socket calls on Winsock 2 (see net/SocketOperations.h). Sockets are
// non-blocking; readiness comes as window messages (Win32ReadinessWatchers.cpp).
#include "net/SocketOperations.h"

#include "platform/win32/CodePage936.h"
#include "platform/win32/WinsockSession.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace {

constexpr size_t kDiscardChunk = 64 * 1024;
// One send or receive call takes at most this much: Winsock counts in int.
constexpr size_t kMostPerCall = 1 << 30;

SOCKET nativeOf(SocketHandle socket) { return static_cast<SOCKET>(static_cast<std::uintptr_t>(socket)); }
SocketHandle handleOf(SOCKET socket) { return static_cast<SocketHandle>(static_cast<std::uintptr_t>(socket)); }

bool setNonBlocking(SOCKET socket)
{
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

// A shortage of buffers or of the peer's patience for a moment: try again later.
bool isTransient(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR; }

struct ErrorWords {
    int error;
    const char* words;
};

// The reasons a listener or a connection can fail for, in the program's own words: the same
// words the Linux program gives (its C library's), which the README quotes. Windows has no
// text for Winsock's codes in some languages and Wine none at all.
constexpr ErrorWords kErrorWords[] = {
    { WSAEADDRINUSE, "Address already in use" },
    { WSAEACCES, "Permission denied" },
    { WSAEADDRNOTAVAIL, "Cannot assign requested address" },
    { WSAENOBUFS, "No buffer space available" },
    { WSAEMFILE, "Too many open files" },
    { WSAENETDOWN, "Network is down" },
    { WSAEAFNOSUPPORT, "Address family not supported by protocol" },
    { WSAEPROTONOSUPPORT, "Protocol not supported" },
    { WSAESOCKTNOSUPPORT, "Socket type not supported" },
    { WSAEINVAL, "Invalid argument" },
    { WSAEINPROGRESS, "Operation now in progress" },
    { WSAENOTSOCK, "Socket operation on non-socket" },
    { WSANOTINITIALISED, "Windows Sockets is not started" },
    { WSASYSNOTREADY, "Windows Sockets is not ready" },
    { WSAEPROVIDERFAILEDINIT, "Windows Sockets could not start its provider" },
};

// The reason for an error code: the program's own words where it has them, else the system's
// in the system's language, as code page 936 text, else the code.
std::string describeError(int error)
{
    for (const ErrorWords& known : kErrorWords) {
        if (known.error == error)
            return known.words;
    }
    wchar_t* words = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring text = length && words ? std::wstring(words, length) : L"Winsock error " + std::to_wstring(error);
    LocalFree(words);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.'))
        text.pop_back();
    return wideToCp936(text);
}

// The client address: dotted-decimal IPv4 address, a colon, the decimal port.
std::string addressText(const sockaddr_in& peer)
{
    char host[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host))
        return {};
    return std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
}

} // namespace

void closeSocketHandle(SocketHandle socket)
{
    closesocket(nativeOf(socket));
}

namespace sockets {

OwnedSocket openListener(uint16_t port, std::string& reason)
{
    ensureWinsock();
    OwnedSocket listener(handleOf(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (nativeOf(listener.get()) == INVALID_SOCKET) {
        reason = describeError(WSAGetLastError());
        return {};
    }
    SOCKET native = nativeOf(listener.get());
    // No address option at all, which is how Windows wants a server to bind. Windows' own
    // rules ("Using SO_REUSEADDR and SO_EXCLUSIVEADDRUSE"): since Windows Server 2003, "sockets
    // are not in a sharable state by default", so a second program binding the port without
    // options is refused with WSAEADDRINUSE; SO_REUSEADDR would let it in beside us ("the
    // behavior for all sockets bound to that port is indeterminate"). And SO_EXCLUSIVEADDRUSE,
    // which this listener used to set, blocks our own restart: "a socket with the
    // SO_EXCLUSIVEADDRUSE set cannot necessarily be reused immediately after socket closure.
    // For example, if a listening socket with SO_EXCLUSIVEADDRUSE set accepts a connection and
    // is then subsequently closed, another socket (also with SO_EXCLUSIVEADDRUSE) cannot bind
    // to the same port as the first socket until the original connection becomes inactive" -
    // that is, until the clients of the dissolved room have closed their end. Without it, a
    // restarted room listens at once. (Wine follows the Linux rules here, so only Windows
    // shows the difference.)
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (!setNonBlocking(native) || bind(native, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || listen(native, SOMAXCONN) != 0) {
        reason = describeError(WSAGetLastError());
        return {};
    }
    return listener;
}

Accepted acceptConnection(SocketHandle listener)
{
    sockaddr_in peer {};
    int length = sizeof peer;
    SOCKET native = accept(nativeOf(listener), reinterpret_cast<sockaddr*>(&peer), &length);
    Accepted accepted;
    if (native == INVALID_SOCKET) {
        int error = WSAGetLastError();
        if (isTransient(error))
            accepted.outcome = AcceptOutcome::NoneWaiting;
        else if (error == WSAEMFILE || error == WSAENOBUFS)
            accepted.outcome = AcceptOutcome::OutOfHandles;
        else
            accepted.outcome = AcceptOutcome::Failed;
        return accepted;
    }
    accepted.outcome = AcceptOutcome::Accepted;
    accepted.socket = OwnedSocket(handleOf(native));
    setNonBlocking(native);
    if (length <= static_cast<int>(sizeof peer) && peer.sin_family == AF_INET)
        accepted.address = addressText(peer);
    return accepted;
}

IoResult receiveBytes(SocketHandle socket, char* buffer, size_t size)
{
    int got = recv(nativeOf(socket), buffer, static_cast<int>(std::min(size, kMostPerCall)), 0);
    if (got > 0)
        return { IoOutcome::Transferred, static_cast<size_t>(got) };
    if (got == 0)
        return { IoOutcome::Ended };
    int error = WSAGetLastError();
    return { isTransient(error) || error == WSAENOBUFS ? IoOutcome::WouldBlock : IoOutcome::Failed };
}

IoResult sendBytes(SocketHandle socket, const char* data, size_t size)
{
    int taken = send(nativeOf(socket), data, static_cast<int>(std::min(size, kMostPerCall)), 0);
    if (taken > 0)
        return { IoOutcome::Transferred, static_cast<size_t>(taken) };
    int error = taken == 0 ? WSAEWOULDBLOCK : WSAGetLastError();
    return { isTransient(error) || error == WSAENOBUFS ? IoOutcome::WouldBlock : IoOutcome::Failed };
}

// Winsock keeps no limit of ours on unsent bytes.
void liftUnsentLimit(SocketHandle) { }

void discardInput(SocketHandle socket, size_t limit)
{
    char sink[kDiscardChunk];
    size_t dropped = 0;
    while (dropped < limit) {
        int got = recv(nativeOf(socket), sink, sizeof sink, 0);
        if (got <= 0)
            return;
        dropped += static_cast<size_t>(got);
    }
}

bool peerHasEnded(SocketHandle socket)
{
    WSAPOLLFD entry { nativeOf(socket), POLLRDNORM, 0 };
    return WSAPoll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR));
}

std::vector<bool> waitUntilWritable(std::span<const SocketHandle> sockets, int timeoutMs)
{
    std::vector<WSAPOLLFD> entries;
    entries.reserve(sockets.size());
    for (SocketHandle socket : sockets)
        entries.push_back({ nativeOf(socket), POLLWRNORM, 0 });
    int ready = entries.empty() ? 0 : WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), std::max(timeoutMs, 0));
    std::vector<bool> writable(sockets.size(), false);
    for (size_t i = 0; ready > 0 && i < entries.size(); ++i)
        writable[i] = (entries[i].revents & (POLLWRNORM | POLLERR | POLLHUP)) != 0;
    return writable;
}

// Windows has no descriptor table that the window system shares with the sockets.
bool takesReservedHandle(SocketHandle) { return false; }

SpareHandle::SpareHandle()
    : m_handle(static_cast<std::uintptr_t>(kNoSocket))
{
    retake();
}

SpareHandle::~SpareHandle()
{
    if (held())
        closesocket(static_cast<SOCKET>(m_handle));
}

bool SpareHandle::held() const { return static_cast<SocketHandle>(m_handle) != kNoSocket; }

void SpareHandle::retake()
{
    if (held())
        return;
    ensureWinsock();
    SOCKET spare = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    m_handle = spare == INVALID_SOCKET ? static_cast<std::uintptr_t>(kNoSocket) : static_cast<std::uintptr_t>(spare);
}

bool SpareHandle::dropPendingConnection(SocketHandle listener)
{
    if (!held())
        return false;
    closesocket(static_cast<SOCKET>(m_handle));
    m_handle = static_cast<std::uintptr_t>(kNoSocket);
    SOCKET dropped = accept(nativeOf(listener), nullptr, nullptr);
    if (dropped != INVALID_SOCKET)
        closesocket(dropped);
    retake();
    return dropped != INVALID_SOCKET;
}

} // namespace sockets
