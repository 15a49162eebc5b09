// The server component's roster and events: the connected clients in connection order, their
// readable notifications turned into events raised synchronously. Handlers may disconnect any
// client or re-listen while an event of ours is on the stack, so every step after raising an
// event looks its client up again.
#include "net/TcpServer.h"

#include "net/TcpServerClient.h"

#include <algorithm>

namespace {

// How many readable notifications an ended connection that holds a newcomer's name is given
// to deliver its last data and report its end (each reads up to the budget).
constexpr int kSettleLimit = 64;

uint16_t tcpPortOf(int32_t port)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
}

} // namespace

TcpServer::TcpServer(ReadinessWatcherFactory& watchers, EventSink raiseEvent, int32_t port)
    : m_services { watchers, m_dispatch, m_budget }
    , m_raiseEvent(std::move(raiseEvent))
    , m_port(port)
    , m_listener(watchers, m_dispatch, [this](OwnedSocket socket, std::string address) {
        admit(std::move(socket), std::move(address), [] { return std::make_unique<RawTransport>(); });
    })
    , m_gathering(watchers, m_dispatch, m_budget)
{
    m_dispatch.onOutermostEntry([this] {
        m_closing.closeExpired();
        giveUpOverdueWaiting();
        armDeadlineAlarm();
    });
    m_reportAtRoundEnd = watchers.afterEachRound([this] {
        reportEvicted();
        sendMembersIfChanged();
    });
    startListening();
}

TcpServer::~TcpServer()
{
    m_reportAtRoundEnd.reset();
    m_deadlineAlarm.reset();
    m_livenessAlarm.reset();
    m_graceAlarm.reset();
    m_membersAlarm.reset();
    m_gathering.stop();
    // A transport that ends its connections with a closing handshake says the room is going.
    // Making room for one farewell may take others off the roster: each is looked up afresh.
    for (uint64_t id : clientIds([](const Client&) { return true; })) {
        if (Client* client = findById(id))
            finishWithFarewell(*client, CloseReason::RoomClosing);
    }
    std::vector<Connection*> sending = m_closing.all();
    for (auto& client : m_clients)
        sending.push_back(client->connection.get());
    flushUntilDeadline(sending, kCloseFlushMs);
    // Every connection closes gracefully with its owner, in roster order, without events.
    m_byAddress.clear();
    m_byId.clear();
    m_clients.clear();
    m_waiting.clear();
    m_closing.closeAll();
    m_entrances.clear();
    m_listener.close();
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
    // A failure is told by the owner (listenFailure() says why); a line here as well would
    // say it twice. Clients whose input was left alone while there was no listener are read
    // again when there is one.
    bool listening = m_listener.listen(tcpPortOf(m_port));
    refreshAllReadWatches();
    return listening;
}

const Listener& TcpServer::openEntrance(uint16_t port, TransportFactory makeTransport)
{
    auto listener = std::make_unique<Listener>(m_services.watchers, m_dispatch,
        [this, makeTransport = std::move(makeTransport)](OwnedSocket socket, std::string address) {
            admit(std::move(socket), std::move(address), makeTransport);
        });
    listener->listen(port);
    m_entrances.push_back(std::move(listener));
    return *m_entrances.back();
}

// An accepted connection joins the roster now, or waits until its transport joins it.
void TcpServer::admit(OwnedSocket socket, std::string address, const TransportFactory& makeTransport)
{
    auto client = std::make_unique<Client>();
    uint64_t id = m_nextId++;
    client->id = id;
    client->name = address;
    client->connection = std::make_unique<Connection>(std::move(socket), std::move(address), makeTransport(), m_services);
    client->connection->watchReadable([this, id] { onClientReadable(id); });
    if (client->connection->transport().joinsOnAccept()) {
        join(std::move(client));
        return;
    }
    refreshReadWatch(*client);
    m_byId.emplace(id, client.get());
    m_waiting.emplace(id, std::move(client));
    m_joinDeadlines.add(id);
    giveUpOverdueWaiting();
    armDeadlineAlarm();
}

// Waiting connections past their deadline, or pushed out by newer ones beyond the cap, are
// told so (when their transport has words for it) and closed.
void TcpServer::giveUpOverdueWaiting()
{
    if (m_waiting.empty())
        return;
    for (uint64_t id : m_joinDeadlines.overdue(m_waiting.size(), [this](uint64_t waiting) { return m_waiting.contains(waiting); })) {
        std::unique_ptr<Client> client = removeWaiting(id);
        finishWithFarewell(*client, CloseReason::TimedOut);
        closeConnection(std::move(client));
    }
}

// Puts the client on the roster and raises client entered; the client as it is afterwards,
// or nothing when it is gone (or could not join).
TcpServer::Client* TcpServer::join(std::unique_ptr<Client> client)
{
    // A client that gave way may have held this name: its leaving is told first.
    reportEvicted();
    const std::string& address = client->address();
    // The name may still be held by a client whose connection has ended (a reset, or a close
    // whose notification has not been handled yet) and whose port the peer now uses again:
    // that ending is settled first, its data delivered and its leaving reported, so the
    // newcomer gets the name.
    for (int settled = 0; settled < kSettleLimit; ++settled) {
        Client* holder = findByAddress(address);
        if (!holder || holder->inEvent || holder->inGrace() || !isListening() || !holder->connection->peerHasEnded())
            break;
        onClientReadable(holder->id);
    }
    // A holder that is still connected keeps its name: the names must stay unique (Linux may
    // give two live connections the same address when they go to two different ports, such as
    // a browser's and a raw client's). The newcomer is told so, as far as its transport can
    // say it, and closed; a new connection of its peer gets a new port.
    if (findByAddress(address)) {
        finishWithFarewell(*client, CloseReason::NameHeld);
        closeConnection(std::move(client));
        if (m_onNameHeld)
            m_onNameHeld();
        return nullptr;
    }
    uint64_t id = client->id;
    client->inEvent = true;
    client->position = m_clients.size();
    refreshReadWatch(*client);
    m_byAddress.emplace(address, client.get());
    m_byId.insert_or_assign(id, client.get());
    Client& member = *m_clients.emplace_back(std::move(client));
    if (member.followsRoom())
        replayTo(member, std::nullopt);
    membersChanged();
    return raiseForClient(id, ClientEntered);
}

void TcpServer::onClientReadable(uint64_t clientId)
{
    ReadinessDispatch::Scope scope(m_dispatch);
    // Where the loop has no rounds, the clients that gave way are reported here.
    reportEvicted();
    Client* client = findById(clientId);
    if (!client)
        return;
    // Without a listener client input is left alone; the watch stays off until listening
    // resumes, or the level-triggered loop would spin on it.
    if (!isListening()) {
        refreshReadWatch(*client);
        return;
    }

    Connection::Received received = client->connection->receive();
    Incoming incoming = client->connection->transport().decode(std::move(received.bytes));
    if (!incoming.answer.empty())
        answer(*client, incoming.answer);
    if (client->followsRoom()) {
        noteHeard(*client);
        // A connection that takes up a session goes on as the client it resumes.
        if (incoming.opened) {
            clientId = openFollower(clientId, incoming);
            client = findById(clientId);
        }
        if (incoming.name && incoming.name != client->nickname) {
            client->nickname = std::move(incoming.name);
            if (!m_waiting.contains(clientId)) {
                membersChanged();
                tellNickname(clientId);
            }
        }
    }
    bool ends = received.ended || incoming.ends;
    if (m_waiting.contains(clientId)) {
        if (ends) {
            finish(*client, incoming.lastWords);
            closeConnection(removeWaiting(clientId));
        } else if (incoming.joinsRoster) {
            client = join(removeWaiting(clientId));
            // A page joins with its nickname, told once the roster has its entry.
            if (client)
                client = tellNickname(clientId);
        }
        if (ends || !client)
            return;
    }
    // The data that came before an end is the room's first, and the room's answers to it
    // (the sender's own echo included) go out before the connection's last words.
    if (!incoming.forRoom.empty()) {
        client = raiseForClient(clientId, DataArrival, ByteBlock(std::move(incoming.forRoom)), std::move(incoming.originalText));
        if (!client)
            return;
    }
    if (ends && !holdInGrace(*client, incoming, received.ended)) {
        finish(*client, incoming.lastWords);
        endClient(removeClient(client));
    }
}

TcpServer::Client* TcpServer::raiseForClient(uint64_t clientId, Event event, ByteBlock data, std::string originalText)
{
    Client* client = findById(clientId);
    if (!client)
        return nullptr;
    // A nested loop inside the handler must neither read this socket again nor spin on it.
    client->inEvent = true;
    refreshReadWatch(*client);
    raise(event, client->address(), std::move(data), std::move(originalText));
    client = findById(clientId);
    if (client) {
        client->inEvent = false;
        refreshReadWatch(*client);
    }
    return client;
}

void TcpServer::raise(Event event, std::string client, ByteBlock data, std::string originalText)
{
    m_currentClient = std::move(client);
    m_currentData = std::move(data);
    m_currentOriginalText = std::move(originalText);
    if (m_raiseEvent)
        m_raiseEvent(event);
    m_currentClient.clear();
    m_currentData = ByteBlock();
    m_currentOriginalText.clear();
}

// Clients that gave way are reported as left, each with the event a leaving client raises.
void TcpServer::reportEvicted()
{
    while (!m_evicted.empty()) {
        std::string address = std::move(m_evicted.front());
        m_evicted.erase(m_evicted.begin());
        raise(ClientLeft, std::move(address));
        membersChanged();
    }
}

void TcpServer::disconnectClient(std::string_view client)
{
    if (client.empty())
        return;
    if (Client* target = findByAddress(client)) {
        finishWithFarewell(*target, CloseReason::Disconnected);
        endClient(removeClient(target));
    }
}

// The client is off the roster: its connection closes (after what is still queued for it, as
// far as the socket takes it before the close deadline) and its leaving is reported.
void TcpServer::endClient(std::unique_ptr<Client> client)
{
    std::string address = client->address();
    closeConnection(std::move(client));
    raise(ClientLeft, std::move(address));
    membersChanged();
}

std::vector<std::string> TcpServer::clientList() const
{
    std::vector<std::string> addresses;
    addresses.reserve(m_clients.size());
    for (const auto& client : m_clients)
        addresses.push_back(client->address());
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
    if (m_nextSendTarget < m_clients.size() && m_clients[m_nextSendTarget]->address() == address)
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

std::vector<uint64_t> TcpServer::clientIds(const std::function<bool(const Client&)>& keep) const
{
    std::vector<uint64_t> ids;
    for (const auto& client : m_clients) {
        if (keep(*client))
            ids.push_back(client->id);
    }
    return ids;
}

std::unique_ptr<TcpServer::Client> TcpServer::removeClient(Client* client)
{
    m_gathering.forget(*client->connection);
    if (auto found = m_byAddress.find(std::string_view(client->address())); found != m_byAddress.end())
        m_byAddress.erase(found);
    m_byId.erase(client->id);
    auto entry = m_clients.begin() + static_cast<std::ptrdiff_t>(client->position);
    std::unique_ptr<Client> owned = std::move(*entry);
    entry = m_clients.erase(entry);
    for (; entry != m_clients.end(); ++entry)
        --(*entry)->position;
    return owned;
}

std::unique_ptr<TcpServer::Client> TcpServer::removeWaiting(uint64_t clientId)
{
    auto found = m_waiting.find(clientId);
    std::unique_ptr<Client> owned = std::move(found->second);
    m_waiting.erase(found);
    m_byId.erase(clientId);
    return owned;
}

void TcpServer::refreshReadWatch(Client& client)
{
    client.connection->setReading(isListening() && !client.inEvent);
}

void TcpServer::refreshAllReadWatches()
{
    for (auto& client : m_clients)
        refreshReadWatch(*client);
    for (auto& [id, client] : m_waiting)
        refreshReadWatch(*client);
}
