// The load generator's reading clients: their connections in one epoll set, what each has
// received, their sends, and the warm-up that makes sure the relay has all of them in its room.
//
// Everything a client sends or receives passes through readRoomBytes and writeRoomBytes: on
// plain TCP the socket's bytes are the room's bytes. A client of another transport (a
// WebSocket client of the room's web entrance, say) does its handshake after connecting and
// frames and unframes there; the measurements above stay as they are. (The web entrance takes
// text frames, converted on entry: such a client would also write the messages' headers in
// printable form, see LoadMessages.h.)
#pragma once

#include "LoadMessages.h"
#include "LoadSupport.h"

#include <cstdint>
#include <string>
#include <vector>

struct Connection {
    int fd = -1;
    bool open = true;
    bool leaving = false; // closed or kicked on purpose: not a lost connection
    uint64_t received = 0; // bytes since counting started
    uint64_t expected = 0;
    MessageCutter cutter;
    // Warm-up: the last probe sequence seen from each of the (at most two) probe senders.
    int64_t lastProbe[2] = { -1, -1 };
    // Sender side.
    std::string pending; // bytes of a message the socket did not take yet
    uint32_t nextSeq = 0;
    uint32_t inFlight = 0;
    uint32_t oldest = 0; // the first sequence number that is neither complete nor given up
};

// What a measurement hears of its clients.
class ClientListener {
public:
    virtual ~ClientListener() = default;
    // `count` bytes arrived at a client, before the messages they complete are handed on.
    virtual void bytesArrived(size_t client, uint64_t count, uint64_t arrival) = 0;
    virtual void messageArrived(size_t client, const MessageHeader& header, uint64_t arrival) = 0;
};

class ClientSet {
public:
    explicit ClientSet(const Options& options);
    ~ClientSet();
    ClientSet(const ClientSet&) = delete;
    ClientSet& operator=(const ClientSet&) = delete;

    // Takes connected descriptors into the epoll set.
    void adopt(const std::vector<int>& fds);
    bool warmUp();
    // Waits up to timeoutMs for readiness and reads what is there.
    void pump(int timeoutMs);
    // Between phases: whatever is still on its way arrives before the next phase counts.
    void waitUntilQuiet();

    // Returns whether the whole message went out; what did not waits in pending.
    bool sendMessage(Connection& connection, const std::string& message);
    bool flush(Connection& connection);
    // Closes a client on purpose (a leave).
    void closeClient(size_t client);
    void closeAll();

    void setListener(ClientListener* listener) { m_listener = listener; }
    std::vector<Connection>& connections() { return m_connections; }
    const std::vector<Connection>& connections() const { return m_connections; }
    size_t size() const { return m_connections.size(); }
    uint64_t lostConnections() const { return m_lostConnections; }
    uint64_t partialSends() const { return m_partialSends; }
    uint64_t resyncs() const;

private:
    bool everybodyHeard(int probeSenders, const int64_t* last) const;
    void sendProbe(int p, uint32_t seq);
    void drain(Connection& connection);
    void lose(Connection& connection);
    // The transport: what the room sent this client, and what the client sends the room.
    ssize_t readRoomBytes(Connection& connection, char* buffer, size_t size);
    ssize_t writeRoomBytes(Connection& connection, const char* data, size_t size);

    const Options& m_options;
    std::vector<Connection> m_connections;
    std::vector<char> m_buffer;
    ClientListener* m_listener = nullptr;
    int m_epoll = -1;
    uint64_t m_bytesSeen = 0;
    uint64_t m_lostConnections = 0;
    uint64_t m_partialSends = 0;
};
