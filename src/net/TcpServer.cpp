// The server component on non-blocking POSIX sockets: one IPv4 listener, the connected clients
// in connection order, readiness taken from level-triggered watchers on the window thread, and
// events raised synchronously. Handlers may disconnect any client or re-listen while an event
// of ours is on the stack, so every step after raising an event looks its client up again.
#include "net/TcpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connections taken per accept notification, so a connection storm cannot hold the loop.
constexpr int kAcceptBatch = 64;
// Reads take up to this much at a time: the bytes delivered are the same as with small
// reads, in far fewer calls.
constexpr size_t kReadChunk = 64 * 1024;
// What one readable notification drains at most; the rest comes with the next notification,
// so one flooding client cannot keep the others waiting.
constexpr size_t kReadBudget = 1024 * 1024;
// What a closing socket reads and drops at most before it is closed.
constexpr size_t kCloseDrainLimit = 16 * 1024 * 1024;
// How many readable notifications an ended connection that holds a newcomer's name is given
// to deliver its last data and report its end (each reads up to the budget).
constexpr int kSettleLimit = 64;
// A deadline that never waits.
constexpr int64_t kNoWait = -1;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Waits until the socket can take data or the deadline passes. True also when the socket
// reports an error, so that the next send names it.
bool waitWritable(int fd, int64_t deadlineMs)
{
    if (deadlineMs == kNoWait)
        return false;
    for (;;) {
        int64_t remaining = std::max<int64_t>(0, deadlineMs - nowMs());
        pollfd entry { fd, POLLOUT, 0 };
        int ready = poll(&entry, 1, static_cast<int>(std::min<int64_t>(remaining, INT_MAX)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready == 0 && remaining == 0)
            return false;
    }
}

// Reads and drops what the peer sent and nobody will read: closing a socket with unread
// input makes Linux reset the connection, which can destroy what was sent just before.
void discardInput(int fd)
{
    char sink[64 * 1024];
    size_t dropped = 0;
    while (dropped < kCloseDrainLimit) {
        ssize_t got = recv(fd, sink, sizeof sink, 0);
        if (got > 0) {
            dropped += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return;
    }
}

// The client address: dotted-decimal IPv4 address, a colon, the decimal port.
std::string addressText(const sockaddr_in& peer)
{
    char host[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host))
        return {};
    return std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
}

// True when the peer has closed or reset the connection, whatever input is still unread.
bool connectionEnded(int fd)
{
    pollfd entry { fd, POLLRDHUP, 0 };
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

int openSpare() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

// The lowest descriptor number a client may not have. Descriptors above it stay free for the
// rest of the program (the window system, the value store, threads Qt starts to paint), which
// cannot cope with a full table; a connection that would take one is dropped at once.
int clientDescriptorCeiling()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    rlim_t reserve = std::min<rlim_t>(64, limit.rlim_cur / 4);
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur - reserve, INT_MAX));
}

// Reads what a readable client socket holds, up to the budget, appending to `data`. Returns
// true when the peer has closed or the connection failed: that is the client's closure.
// A read that fills less than it asked for has taken all there was: bytes that arrive later
// make the level-triggered watcher report the socket again, so no call is spent on finding
// the socket empty (an end of stream after the data is reported the same way).
bool drainClient(int fd, std::string& data)
{
    char chunk[kReadChunk];
    while (data.size() < kReadBudget) {
        size_t want = std::min(sizeof chunk, kReadBudget - data.size());
        ssize_t got = recv(fd, chunk, want, 0);
        if (got > 0) {
            data.append(chunk, static_cast<size_t>(got));
            if (static_cast<size_t>(got) < want)
                return false;
            continue;
        }
        if (got == 0)
            return true;
        if (errno == EINTR)
            continue;
        // Would-block means drained; a shortage of kernel memory is not the peer's doing.
        return !(wouldBlock(errno) || errno == ENOMEM || errno == ENOBUFS);
    }
    return false;
}

}

struct TcpServer::Client {
    uint64_t id = 0;
    int fd = -1;
    std::string address;
    std::unique_ptr<ReadinessWatcher> readWatcher;
    std::unique_ptr<ReadinessWatcher> writeWatcher;
    // The unsent rest of the one message that the socket took only in part; it goes out
    // before anything else is sent to this client.
    std::string pending;
    size_t pendingSent = 0;
    // One of this client's events is being handled: its input waits until that returns.
    bool inEvent = false;

    bool hasPending() const { return pendingSent < pending.size(); }
};

// Marks the time a readiness callback of this component runs. Retired watchers are destroyed
// only on entry to an outermost callback, when none of them can be on the stack.
class TcpServer::DispatchScope {
public:
    explicit DispatchScope(TcpServer& server)
        : m_server(server)
    {
        if (m_server.m_dispatchDepth++ == 0)
            m_server.m_retiredWatchers.clear();
    }
    ~DispatchScope() { --m_server.m_dispatchDepth; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

private:
    TcpServer& m_server;
};

TcpServer::TcpServer(ReadinessWatcherFactory& watchers, EventSink raiseEvent, int32_t port)
    : m_watchers(watchers)
    , m_raiseEvent(std::move(raiseEvent))
    , m_port(port)
{
    m_spareFd = openSpare();
    startListening();
}

TcpServer::~TcpServer()
{
    m_acceptPaused = false;
    for (auto& client : m_clients)
        closeClientSocket(*client);
    m_byAddress.clear();
    m_byId.clear();
    m_clients.clear();
    closeListener();
    if (m_spareFd >= 0)
        close(m_spareFd);
    m_retiredWatchers.clear();
}

void TcpServer::setPort(int32_t port)
{
    if (port <= 0)
        port = 1;
    if (port == m_port)
        return;
    m_port = port;
    startListening();
}

bool TcpServer::startListening()
{
    closeListener();
    uint16_t tcpPort = static_cast<uint16_t>(static_cast<uint32_t>(m_port) & 0xFFFF);

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = errno;
    if (fd >= 0) {
        // Lets a restarted server bind while old connections sit in TIME_WAIT; it never lets
        // two listeners share the port.
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(tcpPort);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(fd, SOMAXCONN) == 0) {
            m_listenFd = fd;
        } else {
            error = errno;
            close(fd);
        }
    }
    if (m_listenFd < 0) {
        // Nothing else tells the administrator why no client can connect.
        std::fprintf(stderr, "chatroom-server: cannot listen on TCP port %u: %s\n", static_cast<unsigned>(tcpPort), std::strerror(error));
        refreshAllReadWatches();
        return false;
    }

    m_listenWatcher = m_watchers.watchReadable(m_listenFd, [this] { onAcceptReady(); });
    m_listenWatcher->setEnabled(true);
    m_acceptPaused = false;
    if (m_spareFd < 0)
        m_spareFd = openSpare();
    // Clients whose input was left alone while there was no listener are read again.
    refreshAllReadWatches();
    return true;
}

void TcpServer::closeListener()
{
    retireWatcher(std::move(m_listenWatcher));
    if (m_listenFd >= 0)
        close(m_listenFd);
    m_listenFd = -1;
}

void TcpServer::onAcceptReady()
{
    DispatchScope scope(*this);
    int ceiling = clientDescriptorCeiling();
    for (int taken = 0; taken < kAcceptBatch && m_listenFd >= 0 && !m_acceptPaused; ++taken) {
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            int error = errno;
            if (wouldBlock(error) || error == ENOMEM || error == ENOBUFS)
                return;
            if (error == EMFILE || error == ENFILE) {
                if (!shedPendingConnection())
                    return;
            }
            // Anything else concerns that one connection (aborted, network down): try the next.
            continue;
        }
        if (fd >= ceiling) {
            close(fd);
            continue;
        }
        std::string address = length <= sizeof peer && peer.sin_family == AF_INET ? addressText(peer) : std::string();
        if (address.empty()) {
            close(fd);
            continue;
        }
        addClient(fd, address);
    }
}

// Out of descriptors: the pending connection would keep the listener ready forever, so the
// spare descriptor is given up for a moment to take that connection and drop it at once.
bool TcpServer::shedPendingConnection()
{
    if (m_spareFd < 0) {
        pauseAccepting();
        return false;
    }
    close(m_spareFd);
    int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        close(fd);
    m_spareFd = openSpare();
    return fd >= 0;
}

// Without a spare descriptor nothing can be dropped: stop watching the listener until one of
// our own sockets closes and frees a descriptor.
void TcpServer::pauseAccepting()
{
    m_acceptPaused = true;
    if (m_listenWatcher)
        m_listenWatcher->setEnabled(false);
}

void TcpServer::resumeAccepting()
{
    if (m_spareFd < 0)
        m_spareFd = openSpare();
    m_acceptPaused = false;
    if (m_listenWatcher)
        m_listenWatcher->setEnabled(true);
}

void TcpServer::addClient(int fd, const std::string& address)
{
    // The name may still be held by a client whose connection has ended (a reset, or a close
    // whose notification has not been handled yet) and whose port the peer now uses again:
    // that ending is settled first, its data delivered and its leaving reported, so the
    // newcomer gets the name.
    for (int settled = 0; settled < kSettleLimit; ++settled) {
        Client* holder = findByAddress(address);
        if (!holder || holder->inEvent || m_listenFd < 0 || !connectionEnded(holder->fd))
            break;
        onClientReadable(holder->id);
    }
    // A holder that is still connected keeps its name: the names must stay unique (after a
    // change of port Linux may give two live connections the same address).
    if (findByAddress(address)) {
        close(fd);
        return;
    }
    auto client = std::make_unique<Client>();
    uint64_t id = m_nextClientId++;
    client->id = id;
    client->fd = fd;
    client->address = address;
    client->inEvent = true;
    client->readWatcher = m_watchers.watchReadable(fd, [this, id] { onClientReadable(id); });
    refreshReadWatch(*client);

    m_byAddress.emplace(client->address, client.get());
    m_byId.emplace(id, client.get());
    m_clients.push_back(std::move(client));
    raiseForClient(id, ClientEntered);
}

void TcpServer::onClientReadable(uint64_t clientId)
{
    DispatchScope scope(*this);
    Client* client = findById(clientId);
    if (!client)
        return;
    // Without a listener client input is left alone; the watch stays off until listening
    // resumes, or the level-triggered loop would spin on it.
    if (m_listenFd < 0) {
        refreshReadWatch(*client);
        return;
    }

    std::string data;
    bool closed = drainClient(client->fd, data);
    if (!data.empty()) {
        client = raiseForClient(clientId, DataArrival, ByteBlock(std::move(data)));
        if (!client)
            return;
    }
    if (!closed)
        return;

    std::unique_ptr<Client> gone = removeClient(client);
    closeClientSocket(*gone);
    raise(ClientLeft, gone->address);
}

void TcpServer::onClientWritable(uint64_t clientId)
{
    DispatchScope scope(*this);
    if (Client* client = findById(clientId))
        flushPending(*client, kNoWait);
}

TcpServer::Client* TcpServer::raiseForClient(uint64_t clientId, Event event, ByteBlock data)
{
    Client* client = findById(clientId);
    if (!client)
        return nullptr;
    // A nested loop inside the handler must neither read this socket again nor spin on it.
    client->inEvent = true;
    refreshReadWatch(*client);
    raise(event, client->address, std::move(data));
    client = findById(clientId);
    if (client) {
        client->inEvent = false;
        refreshReadWatch(*client);
    }
    return client;
}

void TcpServer::raise(Event event, std::string client, ByteBlock data)
{
    m_currentClient = std::move(client);
    m_currentData = std::move(data);
    if (m_raiseEvent)
        m_raiseEvent(event);
    m_currentClient.clear();
    m_currentData = ByteBlock();
}

bool TcpServer::sendData(std::string_view client, std::string_view bytes, int32_t waitLimit)
{
    if (client.empty())
        return false;
    Client* target = findByAddress(client);
    if (!target)
        return false;
    if (bytes.empty())
        return true;

    // One deadline for the whole message, the rest of an earlier one included.
    int64_t deadline = waitLimit >= 0 ? nowMs() + static_cast<int64_t>(waitLimit) * 1000 : kNoWait;
    if (target->hasPending() && !flushPending(*target, deadline))
        return false;

    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t taken = send(target->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (taken > 0) {
            sent += static_cast<size_t>(taken);
            continue;
        }
        if (taken < 0 && errno == EINTR)
            continue;
        // A broken connection: its closure is reported by the reading side.
        if (taken < 0 && !wouldBlock(errno))
            return false;
        if (waitWritable(target->fd, deadline))
            continue;
        // Out of time. A message that has begun must still arrive whole: keep its rest.
        if (sent > 0)
            keepPending(*target, bytes.substr(sent));
        return false;
    }
    return true;
}

// Sends what is left of the partial message, waiting until the deadline if need be. True when
// nothing is left pending.
bool TcpServer::flushPending(Client& client, int64_t deadlineMs)
{
    while (client.hasPending()) {
        ssize_t taken = send(client.fd, client.pending.data() + client.pendingSent, client.pending.size() - client.pendingSent, MSG_NOSIGNAL);
        if (taken > 0) {
            client.pendingSent += static_cast<size_t>(taken);
            continue;
        }
        if (taken < 0 && errno == EINTR)
            continue;
        if (taken < 0 && !wouldBlock(errno)) {
            // The rest can never go out; dropping it also stops the write watch, which would
            // otherwise fire for ever on the failed socket.
            dropPending(client);
            return false;
        }
        if (!waitWritable(client.fd, deadlineMs))
            return false;
    }
    dropPending(client);
    return true;
}

void TcpServer::keepPending(Client& client, std::string_view rest)
{
    client.pending.assign(rest);
    client.pendingSent = 0;
    if (!client.writeWatcher) {
        uint64_t id = client.id;
        client.writeWatcher = m_watchers.watchWritable(client.fd, [this, id] { onClientWritable(id); });
    }
    client.writeWatcher->setEnabled(true);
}

void TcpServer::dropPending(Client& client)
{
    std::string().swap(client.pending);
    client.pendingSent = 0;
    if (client.writeWatcher)
        client.writeWatcher->setEnabled(false);
}

void TcpServer::disconnectClient(std::string_view client)
{
    if (client.empty())
        return;
    Client* target = findByAddress(client);
    if (!target)
        return;
    std::unique_ptr<Client> gone = removeClient(target);
    closeClientSocket(*gone);
    raise(ClientLeft, gone->address);
}

std::vector<std::string> TcpServer::clientList() const
{
    std::vector<std::string> addresses;
    addresses.reserve(m_clients.size());
    for (const auto& client : m_clients)
        addresses.push_back(client->address);
    return addresses;
}

TcpServer::Client* TcpServer::findByAddress(std::string_view address) const
{
    auto found = m_byAddress.find(address);
    return found == m_byAddress.end() ? nullptr : found->second;
}

TcpServer::Client* TcpServer::findById(uint64_t id) const
{
    auto found = m_byId.find(id);
    return found == m_byId.end() ? nullptr : found->second;
}

std::unique_ptr<TcpServer::Client> TcpServer::removeClient(Client* client)
{
    if (auto found = m_byAddress.find(std::string_view(client->address)); found != m_byAddress.end())
        m_byAddress.erase(found);
    m_byId.erase(client->id);
    auto entry = std::find_if(m_clients.begin(), m_clients.end(), [client](const auto& c) { return c.get() == client; });
    std::unique_ptr<Client> owned = std::move(*entry);
    m_clients.erase(entry);
    return owned;
}

// The graceful close: stop watching, send what fits of a partial message without waiting,
// drop unread input so that Linux ends the connection with FIN rather than a reset, close.
void TcpServer::closeClientSocket(Client& client)
{
    retireWatcher(std::move(client.readWatcher));
    retireWatcher(std::move(client.writeWatcher));
    if (client.fd < 0)
        return;
    if (client.hasPending())
        flushPending(client, kNoWait);
    discardInput(client.fd);
    close(client.fd);
    client.fd = -1;
    std::string().swap(client.pending);
    client.pendingSent = 0;
    if (m_acceptPaused)
        resumeAccepting();
}

void TcpServer::refreshReadWatch(Client& client)
{
    if (client.readWatcher)
        client.readWatcher->setEnabled(m_listenFd >= 0 && !client.inEvent);
}

void TcpServer::refreshAllReadWatches()
{
    for (auto& client : m_clients)
        refreshReadWatch(*client);
}

void TcpServer::retireWatcher(std::unique_ptr<ReadinessWatcher> watcher)
{
    if (!watcher)
        return;
    watcher->setEnabled(false);
    if (m_dispatchDepth > 0)
        m_retiredWatchers.push_back(std::move(watcher));
}
