// The server component: listens on one TCP port on every local IPv4 address, names each
// connected client by its address text "a.b.c.d:port", hands what clients send to the
// application as events, and sends to and disconnects clients by that name. There is no
// framing: bytes go out and come in exactly as given and read.
#pragma once

#include "net/ReadinessWatcher.h"
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

    // Starts listening at once on `port`; a port that cannot be opened leaves the component
    // without a listener (one line on standard error says why).
    TcpServer(ReadinessWatcherFactory& watchers, EventSink raiseEvent, int32_t port = kDefaultPort);
    // Closes every client gracefully, without events.
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    int32_t port() const { return m_port; }
    // A value of 0 or less is stored as 1; a new value re-listens and keeps the clients.
    void setPort(int32_t port);
    bool startListening();
    bool isListening() const { return m_listenFd >= 0; }

    const ByteBlock& getData() const { return m_currentData; }
    const std::string& getClient() const { return m_currentClient; }

    // True only when every byte was handed to the socket layer. A wait limit of 0 or more is
    // the most whole seconds to wait for the connection to take data; negative never waits.
    // A message that runs out of time after part of it went out still arrives whole: its
    // rest is kept and sent before anything later, and a later message first waits, within
    // its own limit, for that rest to go; if it cannot, the later message is not sent at all.
    bool sendData(std::string_view client, std::string_view bytes, int32_t waitLimit = -1);
    bool sendData(std::string_view client, const ByteBlock& block, int32_t waitLimit = -1)
    {
        return sendData(client, block.view(), waitLimit);
    }
    // Closes the client's connection and raises client left inside the call.
    void disconnectClient(std::string_view client);

    // The connected clients' addresses in connection order.
    std::vector<std::string> clientList() const;

private:
    struct Client;
    class DispatchScope;

    // Client addresses are looked up by exact bytes, also from a string_view.
    struct AddressHash {
        using is_transparent = void;
        size_t operator()(std::string_view address) const { return std::hash<std::string_view> {}(address); }
    };

    void closeListener();
    void onAcceptReady();
    bool shedPendingConnection();
    void pauseAccepting();
    void resumeAccepting();
    void addClient(int fd, const std::string& address);
    void onClientReadable(uint64_t clientId);
    void onClientWritable(uint64_t clientId);
    Client* findByAddress(std::string_view address) const;
    Client* findById(uint64_t id) const;
    std::unique_ptr<Client> removeClient(Client* client);
    void closeClientSocket(Client& client);
    void refreshReadWatch(Client& client);
    void refreshAllReadWatches();
    void retireWatcher(std::unique_ptr<ReadinessWatcher> watcher);
    bool flushPending(Client& client, int64_t deadlineMs);
    void keepPending(Client& client, std::string_view rest);
    void dropPending(Client& client);
    Client* raiseForClient(uint64_t clientId, Event event, ByteBlock data = {});
    void raise(Event event, std::string client, ByteBlock data = {});

    ReadinessWatcherFactory& m_watchers;
    EventSink m_raiseEvent;
    int32_t m_port = kDefaultPort;
    int m_listenFd = -1;
    // Held open on /dev/null so that a full descriptor table can still take and drop a
    // pending connection instead of leaving the listener ready forever.
    int m_spareFd = -1;
    bool m_acceptPaused = false;
    std::unique_ptr<ReadinessWatcher> m_listenWatcher;
    uint64_t m_nextClientId = 1;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::unordered_map<std::string, Client*, AddressHash, std::equal_to<>> m_byAddress;
    std::unordered_map<uint64_t, Client*> m_byId;
    std::string m_currentClient;
    ByteBlock m_currentData;
    // Watchers of closed sockets are disabled at once but destroyed only when no readiness
    // callback of this component is running, since one of them may be the caller.
    int m_dispatchDepth = 0;
    std::vector<std::unique_ptr<ReadinessWatcher>> m_retiredWatchers;
};
