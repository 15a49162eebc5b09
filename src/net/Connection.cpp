// One client connection: reading, delivery and the graceful close (see Connection.h).
#include "net/Connection.h"

#include "net/SocketOperations.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

namespace {

// Reads take up to this much at a time: the bytes delivered are the same as with small
// reads, in far fewer calls.
constexpr size_t kReadChunk = 64 * 1024;
// What one readable notification drains at most; the rest comes with the next notification,
// so one flooding client cannot keep the others waiting.
constexpr size_t kReadBudget = 1024 * 1024;
// What a closing socket reads and drops at most before it is closed.
constexpr size_t kCloseDrainLimit = 16 * 1024 * 1024;

using Clock = std::chrono::steady_clock;

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

Connection::Connection(OwnedSocket socket, std::string address, std::unique_ptr<ConnectionTransport> transport, ConnectionServices& services)
    : m_socket(std::move(socket))
    , m_address(std::move(address))
    , m_transport(std::move(transport))
    , m_services(services)
{
}

Connection::~Connection()
{
    close();
}

void Connection::watchReadable(std::function<void()> onReadable)
{
    m_readWatcher = m_services.watchers.watchReadable(m_socket.get(), std::move(onReadable));
}

void Connection::setReading(bool enabled)
{
    if (m_readWatcher)
        m_readWatcher->setEnabled(enabled);
}

// A read that fills less than it asked for has taken all there was: bytes that arrive later
// make the level-triggered watcher report the socket again, so no call is spent on finding
// the socket empty (an end of stream after the data is reported the same way).
Connection::Received Connection::receive()
{
    Received received;
    std::string& data = received.bytes;
    char chunk[kReadChunk];
    while (data.size() < kReadBudget) {
        size_t want = std::min(sizeof chunk, kReadBudget - data.size());
        sockets::IoResult got = sockets::receiveBytes(m_socket.get(), chunk, want);
        switch (got.outcome) {
        case sockets::IoOutcome::Transferred:
            data.append(chunk, got.bytes);
            if (got.bytes < want)
                return received;
            continue;
        case sockets::IoOutcome::WouldBlock:
            return received;
        case sockets::IoOutcome::Ended:
        case sockets::IoOutcome::Failed:
            received.ended = true;
            return received;
        }
    }
    return received;
}

bool Connection::peerHasEnded() const
{
    return sockets::peerHasEnded(m_socket.get());
}

// Hands the bytes to the socket as far as it takes them now and queues the rest behind what
// is queued already.
bool Connection::deliver(std::string_view wire)
{
    if (m_closing)
        return false;
    size_t sent = 0;
    if (m_queue.empty()) {
        std::optional<size_t> taken = sendWhatFits(m_socket.get(), wire);
        if (!taken)
            return false;
        sent = *taken;
    }
    if (sent < wire.size()) {
        // The whole message is kept (once for all the queues that hold it), its rest queued.
        m_queue.push(m_services.budget.messages().share(wire), sent);
        updateWriteWatch();
    }
    return true;
}

// A broken connection can never take the rest: it is dropped (the reading side reports the
// closure).
bool Connection::flush()
{
    while (!m_queue.empty()) {
        std::string_view rest = m_queue.front();
        std::optional<size_t> taken = sendWhatFits(m_socket.get(), rest);
        if (!taken) {
            dropQueued();
            break;
        }
        m_queue.consume(*taken);
        if (*taken < rest.size())
            break;
    }
    return m_queue.empty();
}

void Connection::dropQueued()
{
    m_queue.clear();
}

void Connection::onWritable()
{
    ReadinessDispatch::Scope scope(m_services.dispatch);
    flush();
    updateWriteWatch();
    if (m_queue.empty() && m_onDrained) {
        // The owner may destroy this connection: nothing of it is touched afterwards.
        std::function<void()> drained = m_onDrained;
        drained();
    }
}

// The write watch is on exactly while something is queued; it is made on first need.
void Connection::updateWriteWatch()
{
    if (!m_writeWatcher) {
        if (m_queue.empty() || !m_socket)
            return;
        m_writeWatcher = m_services.watchers.watchWritable(m_socket.get(), [this] { onWritable(); });
    }
    m_writeWatcher->setEnabled(!m_queue.empty());
}

void Connection::stopReading()
{
    m_services.dispatch.retire(std::move(m_readWatcher));
}

void Connection::close()
{
    stopReading();
    m_services.dispatch.retire(std::move(m_writeWatcher));
    if (!m_socket)
        return;
    sockets::liftUnsentLimit(m_socket.get());
    flush();
    dropQueued();
    sockets::discardInput(m_socket.get(), kCloseDrainLimit);
    m_socket.reset();
}

void flushUntilDeadline(std::span<Connection* const> connections, int milliseconds)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (Connection* connection : connections) {
        if (connection->socket() != kNoSocket)
            sockets::liftUnsentLimit(connection->socket());
    }
    for (;;) {
        std::vector<SocketHandle> waiting;
        for (Connection* connection : connections) {
            if (connection->queuedBytes() > 0 && !connection->flush())
                waiting.push_back(connection->socket());
        }
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (waiting.empty() || remaining <= 0)
            return;
        sockets::waitUntilWritable(waiting, static_cast<int>(remaining));
    }
}
