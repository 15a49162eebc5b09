// The server component's logic on the platform's socket calls: one IPv4 listener, the
// connected clients in connection order, readiness taken from level-triggered watchers on the
// window thread, and events raised synchronously. Handlers may disconnect any client or
// re-listen while an event of ours is on the stack, so every step after raising an event
// looks its client up again.
#include "net/TcpServer.h"

#include <algorithm>
#include <chrono>
#include <optional>

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
// What a round gathers at most: thousands of chat lines. A round that has more (a burst of
// distinct messages) writes what it has gathered so far and gathers afresh, so the buffer
// stays this small and is kept from round to round.
constexpr size_t kRoundGatherCap = 256 * 1024;

using Clock = std::chrono::steady_clock;

int64_t millisecondsUntil(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Reads what a readable client socket holds, up to the budget, appending to `data`. Returns
// true when the peer has closed or the connection failed: that is the client's closure.
// A read that fills less than it asked for has taken all there was: bytes that arrive later
// make the level-triggered watcher report the socket again, so no call is spent on finding
// the socket empty (an end of stream after the data is reported the same way).
bool drainClient(SocketHandle socket, std::string& data)
{
    char chunk[kReadChunk];
    while (data.size() < kReadBudget) {
        size_t want = std::min(sizeof chunk, kReadBudget - data.size());
        sockets::IoResult got = sockets::receiveBytes(socket, chunk, want);
        switch (got.outcome) {
        case sockets::IoOutcome::Transferred:
            data.append(chunk, got.bytes);
            if (got.bytes < want)
                return false;
            continue;
        case sockets::IoOutcome::WouldBlock:
            return false;
        case sockets::IoOutcome::Ended:
        case sockets::IoOutcome::Failed:
            return true;
        }
    }
    return false;
}

// Hands bytes to the socket while it takes them: how many it took, or nothing when the
// connection is broken before it took any (its closure is reported by the reading side).
std::optional<size_t> sendWhatFits(SocketHandle socket, std::string_view bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        sockets::IoResult taken = sockets::sendBytes(socket, bytes.data() + sent, bytes.size() - sent);
        if (taken.outcome == sockets::IoOutcome::Transferred) {
            sent += taken.bytes;
            continue;
        }
        if (taken.outcome == sockets::IoOutcome::Failed && sent == 0)
            return std::nullopt;
        break;
    }
    return sent;
}

} // namespace

struct TcpServer::Client {
    uint64_t id = 0;
    size_t position = 0; // in m_clients
    OwnedSocket socket;
    std::string address;
    std::unique_ptr<ReadinessWatcher> readWatcher;
    std::unique_ptr<ReadinessWatcher> writeWatcher;
    DeliveryQueue queue;
    // One of this client's events is being handled: its input waits until that returns.
    bool inEvent = false;
    // Its run of the round's gathered bytes, [gatheredBegin, gatheredEnd) of m_gathered, empty
    // when it has none; `listed` while it is in m_gatheredFor.
    size_t gatheredBegin = 0;
    size_t gatheredEnd = 0;
    bool listed = false;
};

// A connection that has left the roster but still sends what was queued for it (a kick
// notice behind a backlog), until its queue is empty or its deadline has passed.
struct TcpServer::ClosingConnection {
    uint64_t id = 0;
    OwnedSocket socket;
    DeliveryQueue queue;
    std::unique_ptr<ReadinessWatcher> writeWatcher;
    Clock::time_point deadline;
};

// Marks the time a readiness callback of this component runs. Retired watchers are destroyed
// only on entry to an outermost callback, when none of them can be on the stack; that is
// also when closing connections past their deadline are given up.
class TcpServer::DispatchScope {
public:
    explicit DispatchScope(TcpServer& server)
        : m_server(server)
    {
        if (m_server.m_dispatchDepth++ == 0) {
            m_server.m_retiredWatchers.clear();
            m_server.closeExpiredConnections();
        }
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
    m_roundEnd = m_watchers.afterEachRound([this] { writeAllGathered(); });
    startListening();
}

TcpServer::~TcpServer()
{
    m_roundEnd.reset();
    writeAllGathered();
    m_acceptPaused = false;
    flushAllUntilDeadline();
    for (auto& client : m_clients) {
        retireWatcher(std::move(client->readWatcher));
        retireWatcher(std::move(client->writeWatcher));
        closeGracefully(client->socket, client->queue);
    }
    for (auto& connection : m_closing) {
        retireWatcher(std::move(connection->writeWatcher));
        closeGracefully(connection->socket, connection->queue);
    }
    m_byAddress.clear();
    m_byId.clear();
    m_clients.clear();
    m_closing.clear();
    closeListener();
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
    auto tcpPort = static_cast<uint16_t>(static_cast<uint32_t>(m_port) & 0xFFFF);
    m_listenFailure.clear();
    m_listener = sockets::openListener(tcpPort, m_listenFailure);
    if (!m_listener) {
        // The owner tells the administrator (listenFailure() says why); a line here as well
        // would say it twice.
        refreshAllReadWatches();
        return false;
    }

    m_listenWatcher = m_watchers.watchReadable(m_listener.get(), [this] { onAcceptReady(); });
    m_listenWatcher->setEnabled(true);
    m_acceptPaused = false;
    m_spare.retake();
    // Clients whose input was left alone while there was no listener are read again.
    refreshAllReadWatches();
    return true;
}

void TcpServer::closeListener()
{
    retireWatcher(std::move(m_listenWatcher));
    m_listener.reset();
}

void TcpServer::onAcceptReady()
{
    DispatchScope scope(*this);
    for (int taken = 0; taken < kAcceptBatch && m_listener && !m_acceptPaused; ++taken) {
        sockets::Accepted accepted = sockets::acceptConnection(m_listener.get());
        switch (accepted.outcome) {
        case sockets::AcceptOutcome::NoneWaiting:
            return;
        case sockets::AcceptOutcome::OutOfHandles:
            // The pending connection would keep the listener ready for ever: the spare handle
            // is given up for a moment to take that connection and drop it.
            if (!m_spare.dropPendingConnection(m_listener.get())) {
                if (!m_spare.held())
                    pauseAccepting();
                return;
            }
            continue;
        case sockets::AcceptOutcome::Failed:
            continue;
        case sockets::AcceptOutcome::Accepted:
            break;
        }
        // A connection that took a handle the rest of the program needs, or whose peer has no
        // IPv4 address, is dropped at once (its owner closes it).
        if (sockets::takesReservedHandle(accepted.socket.get()) || accepted.address.empty())
            continue;
        addClient(std::move(accepted.socket), accepted.address);
    }
}

// Without a spare handle nothing can be dropped: stop watching the listener until one of our
// own sockets closes and frees a handle.
void TcpServer::pauseAccepting()
{
    m_acceptPaused = true;
    if (m_listenWatcher)
        m_listenWatcher->setEnabled(false);
}

void TcpServer::resumeAccepting()
{
    m_spare.retake();
    m_acceptPaused = false;
    if (m_listenWatcher)
        m_listenWatcher->setEnabled(true);
}

void TcpServer::addClient(OwnedSocket socket, const std::string& address)
{
    // The name may still be held by a client whose connection has ended (a reset, or a close
    // whose notification has not been handled yet) and whose port the peer now uses again:
    // that ending is settled first, its data delivered and its leaving reported, so the
    // newcomer gets the name.
    for (int settled = 0; settled < kSettleLimit; ++settled) {
        Client* holder = findByAddress(address);
        if (!holder || holder->inEvent || !m_listener || !sockets::peerHasEnded(holder->socket.get()))
            break;
        onClientReadable(holder->id);
    }
    // A holder that is still connected keeps its name: the names must stay unique (after a
    // change of port Linux may give two live connections the same address).
    if (findByAddress(address))
        return;
    auto client = std::make_unique<Client>();
    uint64_t id = m_nextId++;
    client->id = id;
    client->socket = std::move(socket);
    client->address = address;
    client->inEvent = true;
    client->position = m_clients.size();
    client->readWatcher = m_watchers.watchReadable(client->socket.get(), [this, id] { onClientReadable(id); });
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
    if (!m_listener) {
        refreshReadWatch(*client);
        return;
    }

    std::string data;
    bool closed = drainClient(client->socket.get(), data);
    if (!data.empty()) {
        client = raiseForClient(clientId, DataArrival, ByteBlock(std::move(data)));
        if (!client)
            return;
    }
    if (closed)
        endClient(removeClient(client));
}

void TcpServer::onClientWritable(uint64_t clientId)
{
    DispatchScope scope(*this);
    Client* client = findById(clientId);
    if (!client)
        return;
    writeQueued(client->socket.get(), client->queue);
    updateWriteWatch(client->writeWatcher, client->socket.get(), client->queue, [this, clientId] { onClientWritable(clientId); });
}

void TcpServer::onClosingWritable(uint64_t connectionId)
{
    DispatchScope scope(*this);
    auto found = std::find_if(m_closing.begin(), m_closing.end(), [connectionId](const auto& c) { return c->id == connectionId; });
    if (found == m_closing.end())
        return;
    ClosingConnection& connection = **found;
    writeQueued(connection.socket.get(), connection.queue);
    if (!connection.queue.empty())
        return;
    retireWatcher(std::move(connection.writeWatcher));
    closeGracefully(connection.socket, connection.queue);
    m_closing.erase(found);
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

bool TcpServer::sendData(std::string_view client, std::string_view bytes)
{
    if (client.empty())
        return false;
    Client* target = findSendTarget(client);
    if (!target)
        return false;
    if (bytes.empty())
        return true;
    // The caps count the whole message, as if the socket took none of it: what is accepted
    // can always be kept whole.
    size_t waiting = target->queue.size() + (target->gatheredEnd - target->gatheredBegin);
    if (waiting + bytes.size() > kClientQueueCap || m_queuedBytes + bytes.size() > kTotalQueueCap)
        return false;

    if (gathers(bytes)) {
        size_t start = gatheredCopyOf(bytes);
        // A client's gathered bytes are one run of the round's: a message that does not follow
        // on from its run sends the run now and starts the next one.
        if (target->gatheredEnd != start)
            writeGathered(*target);
        if (target->queue.empty()) {
            gather(*target, start, bytes.size());
            return true;
        }
    }
    // Nothing may overtake what was gathered or queued already.
    writeGathered(*target);
    return deliverNow(*target, bytes);
}

// Hands the bytes to the socket as far as it takes them now and queues the rest behind what
// is queued already. False when the connection was found broken before it took any.
bool TcpServer::deliverNow(Client& target, std::string_view bytes)
{
    size_t sent = 0;
    if (target.queue.empty()) {
        std::optional<size_t> taken = sendWhatFits(target.socket.get(), bytes);
        if (!taken)
            return false;
        sent = *taken;
    }
    if (sent < bytes.size()) {
        target.queue.push(bytes.substr(sent));
        m_queuedBytes += bytes.size() - sent;
        uint64_t id = target.id;
        updateWriteWatch(target.writeWatcher, target.socket.get(), target.queue, [this, id] { onClientWritable(id); });
    }
    return true;
}

// Messages are gathered only while one of our readiness callbacks runs, since only then is a
// round end sure to follow; a send from anywhere else (the console's menu) goes out at once.
bool TcpServer::gathers(std::string_view bytes) const
{
    return m_roundEnd && m_dispatchDepth > 0 && bytes.size() <= kGatherLimit;
}

// Where the bytes are in the round's buffer. A relay hands every client the same bytes in a
// row: those are kept once, and every client's run points at them. Bytes that would take the
// buffer past its cap send every run first.
size_t TcpServer::gatheredCopyOf(std::string_view bytes)
{
    if (m_lastGatheredSize == bytes.size() && std::string_view(m_gathered).substr(m_lastGatheredStart, m_lastGatheredSize) == bytes)
        return m_lastGatheredStart;
    if (m_gathered.size() + bytes.size() > kRoundGatherCap)
        writeAllGathered();
    m_lastGatheredStart = m_gathered.size();
    m_lastGatheredSize = bytes.size();
    m_gathered.append(bytes);
    return m_lastGatheredStart;
}

// Adds [start, start + size) of the round's buffer to the client's run, which it follows on.
void TcpServer::gather(Client& target, size_t start, size_t size)
{
    if (target.gatheredBegin == target.gatheredEnd)
        target.gatheredBegin = start;
    target.gatheredEnd = start + size;
    m_queuedBytes += size;
    if (!target.listed) {
        target.listed = true;
        m_gatheredFor.push_back(&target);
    }
}

// The client's run goes out now, as any message does.
void TcpServer::writeGathered(Client& target)
{
    if (target.gatheredBegin == target.gatheredEnd)
        return;
    std::string_view run = std::string_view(m_gathered).substr(target.gatheredBegin, target.gatheredEnd - target.gatheredBegin);
    target.gatheredBegin = target.gatheredEnd = 0;
    m_queuedBytes -= run.size();
    deliverNow(target, run);
}

// The round is over (or the component closes): every client's run goes out, in the order the
// clients were first sent to.
void TcpServer::writeAllGathered()
{
    for (Client* client : m_gatheredFor) {
        client->listed = false;
        writeGathered(*client);
    }
    m_gatheredFor.clear();
    m_lastGatheredSize = 0;
    m_gathered.clear();
}

// Writes from the front of the queue while the socket takes data. A broken connection can
// never take the rest: it is dropped (the reading side reports the closure). True when the
// queue is empty afterwards.
bool TcpServer::writeQueued(SocketHandle socket, DeliveryQueue& queue)
{
    while (!queue.empty()) {
        std::string_view rest = queue.front();
        std::optional<size_t> taken = sendWhatFits(socket, rest);
        if (!taken) {
            dropQueued(queue);
            break;
        }
        queue.consume(*taken);
        m_queuedBytes -= *taken;
        if (*taken < rest.size())
            break;
    }
    return queue.empty();
}

void TcpServer::dropQueued(DeliveryQueue& queue)
{
    m_queuedBytes -= queue.size();
    queue.clear();
}

// The write watch is on exactly while something is queued; it is made on first need.
void TcpServer::updateWriteWatch(std::unique_ptr<ReadinessWatcher>& watcher, SocketHandle socket, const DeliveryQueue& queue, std::function<void()> onReady)
{
    if (!watcher) {
        if (queue.empty())
            return;
        watcher = m_watchers.watchWritable(socket, std::move(onReady));
    }
    watcher->setEnabled(!queue.empty());
}

void TcpServer::disconnectClient(std::string_view client)
{
    if (client.empty())
        return;
    if (Client* target = findByAddress(client))
        endClient(removeClient(target));
}

// The client is off the roster: report it and close its connection. What is still queued for
// it goes out first, as far as the socket takes it before the close deadline.
void TcpServer::endClient(std::unique_ptr<Client> client)
{
    retireWatcher(std::move(client->readWatcher));
    retireWatcher(std::move(client->writeWatcher));
    if (writeQueued(client->socket.get(), client->queue)) {
        closeGracefully(client->socket, client->queue);
    } else {
        auto closing = std::make_unique<ClosingConnection>();
        uint64_t id = m_nextId++;
        closing->id = id;
        closing->socket = std::move(client->socket);
        closing->queue = std::move(client->queue);
        closing->deadline = Clock::now() + std::chrono::milliseconds(kCloseFlushMs);
        updateWriteWatch(closing->writeWatcher, closing->socket.get(), closing->queue, [this, id] { onClosingWritable(id); });
        m_closing.push_back(std::move(closing));
    }
    if (m_acceptPaused)
        resumeAccepting();
    raise(ClientLeft, client->address);
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

// A relay sends to the roster in its order, which is the order of connection: the client
// after the one sent to last is compared first, which spares hashing the address for every
// delivery.
TcpServer::Client* TcpServer::findSendTarget(std::string_view address)
{
    if (m_nextSendTarget < m_clients.size() && m_clients[m_nextSendTarget]->address == address)
        return m_clients[m_nextSendTarget++].get();
    Client* client = findByAddress(address);
    if (client)
        m_nextSendTarget = client->position + 1;
    return client;
}

TcpServer::Client* TcpServer::findById(uint64_t id) const
{
    auto found = m_byId.find(id);
    return found == m_byId.end() ? nullptr : found->second;
}

std::unique_ptr<TcpServer::Client> TcpServer::removeClient(Client* client)
{
    // Its gathered run goes out (or into its queue) now, and the round forgets it; the
    // others' runs wait for the round's end, so that a crowd leaving at once costs each
    // remaining client one write of all the leave notices.
    if (client->listed) {
        writeGathered(*client);
        std::erase(m_gatheredFor, client);
        client->listed = false;
    }
    if (auto found = m_byAddress.find(std::string_view(client->address)); found != m_byAddress.end())
        m_byAddress.erase(found);
    m_byId.erase(client->id);
    auto entry = m_clients.begin() + static_cast<std::ptrdiff_t>(client->position);
    std::unique_ptr<Client> owned = std::move(*entry);
    entry = m_clients.erase(entry);
    for (; entry != m_clients.end(); ++entry)
        --(*entry)->position;
    return owned;
}

// The graceful close: send what the socket takes of the queue without waiting, drop unread
// input so that the connection ends with FIN rather than a reset, close.
void TcpServer::closeGracefully(OwnedSocket& socket, DeliveryQueue& queue)
{
    if (!socket)
        return;
    writeQueued(socket.get(), queue);
    dropQueued(queue);
    sockets::discardInput(socket.get(), kCloseDrainLimit);
    socket.reset();
}

// Closing connections whose deadline has passed give up what their peers did not take.
void TcpServer::closeExpiredConnections()
{
    Clock::time_point now = Clock::now();
    std::erase_if(m_closing, [this, now](std::unique_ptr<ClosingConnection>& connection) {
        if (connection->deadline > now)
            return false;
        retireWatcher(std::move(connection->writeWatcher));
        closeGracefully(connection->socket, connection->queue);
        return true;
    });
}

// At the end every queue gets one shared deadline, not one each: a room of stalled readers
// closes in about that time.
void TcpServer::flushAllUntilDeadline()
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCloseFlushMs);
    for (;;) {
        std::vector<SocketHandle> waiting;
        auto collect = [&](OwnedSocket& socket, DeliveryQueue& queue) {
            if (socket && !queue.empty() && !writeQueued(socket.get(), queue))
                waiting.push_back(socket.get());
        };
        for (auto& client : m_clients)
            collect(client->socket, client->queue);
        for (auto& connection : m_closing)
            collect(connection->socket, connection->queue);
        int64_t remaining = millisecondsUntil(deadline);
        if (waiting.empty() || remaining <= 0)
            return;
        sockets::waitUntilWritable(waiting, static_cast<int>(remaining));
    }
}

void TcpServer::refreshReadWatch(Client& client)
{
    if (client.readWatcher)
        client.readWatcher->setEnabled(m_listener.valid() && !client.inEvent);
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
