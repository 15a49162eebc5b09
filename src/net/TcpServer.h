// The server component: the roster of connected clients and their events. It listens on one
// TCP port on every local IPv4 address, names each connected client by its address text
// "a.b.c.d:port", hands what clients send to the application as events, and sends to and
// disconnects clients by that name. There is no framing on the room's port: bytes go out and
// come in exactly as given and read.
//
// The parts it is made of, each in a file of its own: Listener (listening and accept
// throttling), Connection (socket, transport, delivery queue, write watch, graceful close),
// ClosingConnections (connections that leave while still sending), RoundGathering (the
// round's gathered small messages) and DeliveryBudget (the caps on what may wait). A further
// entrance with another kind of connection is opened with openEntrance. This file's
// TcpServer.cpp keeps the roster and raises the events; TcpServerDelivery.cpp is the one way
// bytes go to a connection (the caps, the gathering, the closing state) and keeps the
// deadlines.
#pragma once

#include "net/ClosingConnections.h"
#include "net/Connection.h"
#include "net/ConnectionTransport.h"
#include "net/JoinDeadlines.h"
#include "net/Listener.h"
#include "net/ReadinessDispatch.h"
#include "net/ReadinessWatcher.h"
#include "net/RoomMemory.h"
#include "net/RoundGathering.h"
#include "runtime/ByteBlock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
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
    static constexpr size_t kClientQueueCap = DeliveryBudget::kClientCap;
    static constexpr size_t kTotalQueueCap = DeliveryBudget::kTotalCap;
    static constexpr int kCloseFlushMs = ClosingConnections::kFlushMs;
    // Members that follow the room are pinged this often, and ended when nothing came from
    // them for kSilenceLimit.
    static constexpr std::chrono::seconds kPingInterval { 15 };
    static constexpr std::chrono::seconds kSilenceLimit { 45 };
    // A member that follows the room and whose connection ends as a network blink ends it
    // stays on the roster this long, for a new connection to take up its session.
    static constexpr std::chrono::seconds kGracePeriod { 30 };
    // Members that follow the room are told its roster at most this often: each telling costs
    // a frame of the whole roster to each of them, so a member that joins and leaves over and
    // over would otherwise cost the room the square of its size per round.
    static constexpr std::chrono::milliseconds kMembersInterval { 1000 };

    // Starts listening at once on `port`; a port that cannot be opened leaves the component
    // without a listener (listenFailure() says why).
    TcpServer(ReadinessWatcherFactory& watchers, EventSink raiseEvent, int32_t port = kDefaultPort);
    // Sends what is queued within one shared deadline, then closes every client gracefully,
    // without events.
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // How long a client that leaves while its queue is long may still send it (kCloseFlushMs
    // unless set): a program that reads large queues on a slow machine may give it longer.
    void setCloseFlushTime(std::chrono::milliseconds time) { m_closing.setFlushTime(time); }

    int32_t port() const { return m_port; }
    // A value of 0 or less is stored as 1; a new value re-listens and keeps the clients.
    void setPort(int32_t port);
    bool startListening();
    bool isListening() const { return m_listener.isListening(); }
    // Why the last attempt to listen failed, in words; empty while listening.
    const std::string& listenFailure() const { return m_listener.failure(); }

    // A further listening port whose connections use the transports `makeTransport` makes;
    // they join the same roster (when their transport says so) and raise the same events. The
    // entrance lives as long as the component; its listener says whether it listens.
    const Listener& openEntrance(uint16_t port, TransportFactory makeTransport);

    const ByteBlock& getData() const { return m_currentData; }
    // The sender's UTF-8 text the data was converted from, when it gave one (else empty);
    // valid like getData.
    const std::string& getOriginalText() const { return m_currentOriginalText; }

    // What the room remembers, replayed to members that follow the room; nothing (the
    // default) replays nothing. The memory outlives the component or is unset first.
    void setMemory(const RoomMemory* memory) { m_memory = memory; }
    const std::string& getClient() const { return m_currentClient; }

    // True when the whole message was sent, gathered or queued for the client. False for an
    // unknown client, a connection found broken, or a message that would pass the queue caps:
    // the client then misses this message and stays connected. `kind` lets a framing
    // transport tell the server's own texts from relayed bytes.
    // The message's `own` is the component's to set, for each receiver.
    bool sendData(std::string_view client, const OutgoingMessage& message);
    bool sendData(std::string_view client, std::string_view bytes, MessageKind kind = MessageKind::Relayed)
    {
        return sendData(client, OutgoingMessage { .bytes = bytes, .kind = kind });
    }
    bool sendData(std::string_view client, const ByteBlock& block, MessageKind kind = MessageKind::Relayed)
    {
        return sendData(client, block.view(), kind);
    }
    // Closes the client's connection and raises client left inside the call. What was queued
    // for it (a notice sent just before) still goes out, within the close deadline.
    void disconnectClient(std::string_view client);

    // Called for each newcomer turned away because a member still connected holds its name
    // (names stay unique), after the newcomer has been told so and closed.
    void onNameHeld(std::function<void()> turnedAway) { m_onNameHeld = std::move(turnedAway); }

    // A member's nickname as the room learnt it some other way (a TCP client's sender line), in
    // UTF-8, for the pages' list of members; empty for none. A page that gives its own keeps it.
    void setNickname(std::string_view client, std::string_view utf8Name);
    // Called when a page gives its nickname, on joining and on each change, in UTF-8.
    void onNicknameGiven(std::function<void(std::string_view client, std::string_view utf8Name)> given)
    {
        m_onNicknameGiven = std::move(given);
    }

    // The connected clients' addresses in connection order.
    std::vector<std::string> clientList() const;
    // Bytes waiting in all queues.
    size_t queuedBytes() const { return m_budget.waiting(); }

private:
    struct Client;

    // Client addresses are looked up by exact bytes, also from a string_view.
    struct AddressHash {
        using is_transparent = void;
        size_t operator()(std::string_view address) const { return std::hash<std::string_view> {}(address); }
    };

    void admit(OwnedSocket socket, std::string address, const TransportFactory& makeTransport);
    Client* join(std::unique_ptr<Client> client);
    void onClientReadable(uint64_t clientId);
    Client* findByAddress(std::string_view address) const;
    Client* findSendTarget(std::string_view address);
    Client* findById(uint64_t id) const;
    std::unique_ptr<Client> removeClient(Client* client);
    std::unique_ptr<Client> removeWaiting(uint64_t clientId);
    void giveUpOverdueWaiting();
    void endClient(std::unique_ptr<Client> client);

    // Delivery (TcpServerDelivery.cpp). How a message is admitted: within the caps, or as a
    // connection's last words, which may drop whole unstarted messages of its own to fit.
    enum class Admission { WithinCaps, LastWords };
    bool sendTo(Client& target, OutgoingMessage message);
    void answer(Client& client, std::string_view wire);
    bool admits(Client& target, std::string_view wire, Admission admission);
    bool makeRoomFor(const Client& target, size_t targetWaiting, std::string_view wire);
    void finish(Client& client, std::string_view lastWords);
    void finishWithFarewell(Client& client, CloseReason reason);
    void closeConnection(std::unique_ptr<Client> client);
    void armDeadlineAlarm();
    void onDeadline();
    bool putOffWhileNested(std::unique_ptr<Alarm>& alarm, void (TcpServer::*onAlarm)());
    void reportEvicted();
    void refreshReadWatch(Client& client);
    void refreshAllReadWatches();
    Client* raiseForClient(uint64_t clientId, Event event, ByteBlock data = {}, std::string originalText = {});
    void raise(Event event, std::string client, ByteBlock data = {}, std::string originalText = {});

    // Members that follow the room (TcpServerFollowers.cpp).
    uint64_t openFollower(uint64_t clientId, const Incoming& incoming);
    void takeOver(Client& member, std::unique_ptr<Client> newcomer, std::optional<uint64_t> after);
    void replayTo(Client& client, std::optional<uint64_t> after);
    void noteHeard(Client& client);
    void membersChanged();
    Client* tellNickname(uint64_t clientId);
    void sendMembersIfChanged();
    void onMembersAlarm();
    void armLivenessAlarm();
    void onLivenessAlarm();
    bool holdInGrace(Client& client, const Incoming& incoming, bool peerEnded);
    void armGraceAlarm();
    void onGraceAlarm();
    Client* findBySession(std::string_view session) const;
    // The ids of the roster's clients that `keep` takes, for work that may change the roster
    // as it goes: each is looked up again by its id.
    std::vector<uint64_t> clientIds(const std::function<bool(const Client&)>& keep) const;

    // Declared first, destroyed last: every part below retires its watchers here.
    ReadinessDispatch m_dispatch;
    DeliveryBudget m_budget;
    ConnectionServices m_services;
    EventSink m_raiseEvent;
    std::function<void()> m_onNameHeld;
    std::function<void(std::string_view, std::string_view)> m_onNicknameGiven;
    int32_t m_port = kDefaultPort;
    Listener m_listener;
    std::vector<std::unique_ptr<Listener>> m_entrances;
    RoundGathering m_gathering;
    uint64_t m_nextId = 1;
    // The roster, in connection order.
    std::vector<std::unique_ptr<Client>> m_clients;
    size_t m_nextSendTarget = 0; // the place in m_clients of the likely next send (findSendTarget)
    std::unordered_map<std::string, Client*, AddressHash, std::equal_to<>> m_byAddress;
    // Accepted connections whose transport has not joined them to the roster yet.
    std::unordered_map<uint64_t, std::unique_ptr<Client>> m_waiting;
    // How many may wait, and for how long (an entrance's slow or silent requests).
    JoinDeadlines m_joinDeadlines;
    // Every client by id, on the roster or waiting.
    std::unordered_map<uint64_t, Client*> m_byId;
    ClosingConnections m_closing;
    // Clients that gave way to the total cap, whose leaving is still to be reported; at the
    // end of each round, where the loop has rounds.
    std::vector<std::string> m_evicted;
    std::unique_ptr<RoundEndHook> m_reportAtRoundEnd;
    // Wakes the loop for the nearest deadline of a closing or a waiting connection, so that
    // neither waits for traffic to be given up.
    std::unique_ptr<Alarm> m_deadlineAlarm;
    std::chrono::steady_clock::time_point m_deadlineArmedFor;
    std::string m_frameScratch;
    std::string m_currentClient;
    ByteBlock m_currentData;
    std::string m_currentOriginalText;

    const RoomMemory* m_memory = nullptr;
    // The roster changed (or a name on it) since members were last told.
    bool m_membersChanged = false;
    // When members were last told, and what tells them once kMembersInterval has passed.
    std::optional<std::chrono::steady_clock::time_point> m_membersToldAt;
    std::unique_ptr<Alarm> m_membersAlarm;
    std::unique_ptr<Alarm> m_livenessAlarm;
    std::unique_ptr<Alarm> m_graceAlarm;
    // The system's source of randomness, for sessions nobody can guess from their own.
    std::random_device m_sessionRandom;
};
