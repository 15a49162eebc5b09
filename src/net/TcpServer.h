// The server component: listens on one TCP port on every local IPv4 address, names each
// connected client by its address text "a.b.c.d:port", hands what clients send to the
// application as events, and sends to and disconnects clients by that name. There is no
// framing: bytes go out and come in exactly as given and read.
//
// Delivery never waits on a client. A message is handed to the client's socket as far as it
// takes it now, and the rest waits in the client's queue until the socket is writable, before
// anything later; a message is queued whole or not at all. Queues are capped per client and
// in total, so a client that stops reading costs bounded memory and nobody's time.
//
// Small messages sent from inside a round of readiness callbacks (a relay) are gathered and
// written when the round is over, when the loop has rounds: a client then gets everything the
// round has for it in one write, however many senders the round served. In a busy room that
// is one system call and one segment per client instead of one per message.
#pragma once

#include "net/DeliveryQueue.h"
#include "net/ReadinessWatcher.h"
#include "net/SocketOperations.h"
#include "runtime/ByteBlock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TcpServer {
public:
    // The component's events, raised synchronously; getClient and getData are valid only
    // while one of them is being handled.
    enum Event : int { DataArrival = 0, ClientEntered = 1, ClientLeft = 2 };
    using EventSink = std::function<void(Event)>;

    static constexpr int32_t kDefaultPort = 19730;
    // What one client's queue may hold beyond the kernel's buffers: far above what a chat
    // room ever has in flight to one reader, small enough for a thousand stalled readers.
    static constexpr size_t kClientQueueCap = 2 * 1024 * 1024;
    // What all queues together may hold.
    static constexpr size_t kTotalQueueCap = 256 * 1024 * 1024;
    // How long closing the component (and a kicked client's connection) may spend sending
    // what is queued: one deadline shared by all connections.
    static constexpr int kCloseFlushMs = 1000;
    // Larger messages are written at once: they fill segments of their own anyway, and the
    // round's copy of them would cost more than it saves.
    static constexpr size_t kGatherLimit = 16 * 1024;

    // Starts listening at once on `port`; a port that cannot be opened leaves the component
    // without a listener (listenFailure() says why).
    TcpServer(ReadinessWatcherFactory& watchers, EventSink raiseEvent, int32_t port = kDefaultPort);
    // Sends what is queued within one shared deadline, then closes every client gracefully,
    // without events.
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    int32_t port() const { return m_port; }
    // A value of 0 or less is stored as 1; a new value re-listens and keeps the clients.
    void setPort(int32_t port);
    bool startListening();
    bool isListening() const { return m_listener.valid(); }
    // Why the last attempt to listen failed, in words; empty while listening.
    const std::string& listenFailure() const { return m_listenFailure; }

    const ByteBlock& getData() const { return m_currentData; }
    const std::string& getClient() const { return m_currentClient; }

    // True when the whole message was sent, gathered or queued for the client. False for an
    // unknown client, a connection found broken, or a message that would pass the queue caps:
    // the client then misses this message and stays connected.
    bool sendData(std::string_view client, std::string_view bytes);
    bool sendData(std::string_view client, const ByteBlock& block) { return sendData(client, block.view()); }
    // Closes the client's connection and raises client left inside the call. What was queued
    // for it (a notice sent just before) still goes out, within the close deadline.
    void disconnectClient(std::string_view client);

    // The connected clients' addresses in connection order.
    std::vector<std::string> clientList() const;
    // Bytes waiting in all queues.
    size_t queuedBytes() const { return m_queuedBytes; }

private:
    struct Client;
    struct ClosingConnection;
    class DispatchScope;

    // Client addresses are looked up by exact bytes, also from a string_view.
    struct AddressHash {
        using is_transparent = void;
        size_t operator()(std::string_view address) const { return std::hash<std::string_view> {}(address); }
    };

    void closeListener();
    void onAcceptReady();
    void pauseAccepting();
    void resumeAccepting();
    void addClient(OwnedSocket socket, const std::string& address);
    void onClientReadable(uint64_t clientId);
    void onClientWritable(uint64_t clientId);
    void onClosingWritable(uint64_t connectionId);
    Client* findByAddress(std::string_view address) const;
    Client* findSendTarget(std::string_view address);
    Client* findById(uint64_t id) const;
    std::unique_ptr<Client> removeClient(Client* client);
    void endClient(std::unique_ptr<Client> client);
    bool deliverNow(Client& target, std::string_view bytes);
    bool gathers(std::string_view bytes) const;
    size_t gatheredCopyOf(std::string_view bytes);
    void gather(Client& target, size_t start, size_t size);
    void writeGathered(Client& target);
    void writeAllGathered();
    bool writeQueued(SocketHandle socket, DeliveryQueue& queue);
    void dropQueued(DeliveryQueue& queue);
    void updateWriteWatch(std::unique_ptr<ReadinessWatcher>& watcher, SocketHandle socket, const DeliveryQueue& queue, std::function<void()> onReady);
    void closeGracefully(OwnedSocket& socket, DeliveryQueue& queue);
    void closeExpiredConnections();
    void flushAllUntilDeadline();
    void refreshReadWatch(Client& client);
    void refreshAllReadWatches();
    void retireWatcher(std::unique_ptr<ReadinessWatcher> watcher);
    Client* raiseForClient(uint64_t clientId, Event event, ByteBlock data = {});
    void raise(Event event, std::string client, ByteBlock data = {});

    ReadinessWatcherFactory& m_watchers;
    EventSink m_raiseEvent;
    int32_t m_port = kDefaultPort;
    OwnedSocket m_listener;
    std::string m_listenFailure;
    sockets::SpareHandle m_spare;
    bool m_acceptPaused = false;
    std::unique_ptr<ReadinessWatcher> m_listenWatcher;
    uint64_t m_nextId = 1;
    std::vector<std::unique_ptr<Client>> m_clients;
    size_t m_nextSendTarget = 0; // the place in m_clients of the likely next send (findSendTarget)
    std::unordered_map<std::string, Client*, AddressHash, std::equal_to<>> m_byAddress;
    std::unordered_map<uint64_t, Client*> m_byId;
    // Connections already taken off the roster that still send what was queued for them.
    std::vector<std::unique_ptr<ClosingConnection>> m_closing;
    size_t m_queuedBytes = 0; // counts gathered bytes too, once for each client they are for
    // The round's gathered messages, each kept once however many clients it is for (a relay
    // sends one message to everybody in a row); the clients that have some, in the order of
    // their first. Nothing is gathered when the loop has no rounds.
    std::unique_ptr<RoundEndHook> m_roundEnd;
    std::string m_gathered;
    size_t m_lastGatheredStart = 0;
    size_t m_lastGatheredSize = 0;
    std::vector<Client*> m_gatheredFor;
    std::string m_currentClient;
    ByteBlock m_currentData;
    // Watchers of closed sockets are disabled at once but destroyed only when no readiness
    // callback of this component is running, since one of them may be the caller.
    int m_dispatchDepth = 0;
    std::vector<std::unique_ptr<ReadinessWatcher>> m_retiredWatchers;
};
