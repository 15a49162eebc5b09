// How bytes go to a connection of the server component, and how a connection ends. Every byte
// a connection is sent passes sendTo, answer or finish: relayed data, the server's texts and
// the transport's own answers (handshakes, pongs, close frames) alike pass the same caps and
// the same closing state. A connection's closing state is set once, in finish: what was
// gathered for it goes out first, then its last words, then nothing. The deadlines of closing
// and waiting connections wake the loop by an alarm, so that they hold in a quiet room.
#include "net/TcpServer.h"

#include "net/TcpServerClient.h"

#include <algorithm>

namespace {

// An alarm that comes while a callback of the component is running (inside a nested loop) is
// tried again this much later, when the callback may have returned: connections are given
// up only where no callback of theirs can be on the stack.
constexpr std::chrono::milliseconds kNestedAlarmRetry { 50 };

} // namespace

bool TcpServer::sendData(std::string_view client, const OutgoingMessage& message)
{
    if (client.empty())
        return false;
    Client* target = findSendTarget(client);
    if (!target)
        return false;
    if (message.bytes.empty())
        return true;
    return sendTo(*target, message);
}

bool TcpServer::sendTo(Client& target, OutgoingMessage message)
{
    Connection& connection = *target.connection;
    if (connection.isClosing())
        return false;
    // Whose message it is, the connection decides by its roster entry, never by what the
    // message says.
    message.own = !message.sender.empty() && message.sender == target.address();
    std::string_view wire = connection.transport().frame(message, m_frameScratch);
    Admission admission = message.kind == MessageKind::PartingText ? Admission::LastWords : Admission::WithinCaps;
    if (!admits(target, wire, admission))
        return false;
    if (m_gathering.gather(connection, wire))
        return true;
    // Nothing may overtake what was gathered or queued already.
    m_gathering.writeRun(connection);
    return connection.deliver(wire);
}

// The transport's answers go out now, behind what was gathered for the connection; past the
// caps they are dropped like any message, so a peer that asks and never reads is held at its
// cap.
void TcpServer::answer(Client& client, std::string_view wire)
{
    Connection& connection = *client.connection;
    if (connection.isClosing() || !admits(client, wire, Admission::WithinCaps))
        return;
    m_gathering.writeRun(connection);
    connection.deliver(wire);
}

// Whether the message may wait for the client. Last words that do not fit under the client's
// own cap make room by dropping whole messages the client has not started to receive (never
// part of one); the round's run of the client goes to its queue first, where it can be.
bool TcpServer::admits(Client& target, std::string_view wire, Admission admission)
{
    Connection& connection = *target.connection;
    size_t waiting = connection.queuedBytes() + connection.gatheredRun().size();
    if (!m_budget.clientAdmits(waiting, wire.size())) {
        if (admission != Admission::LastWords)
            return false;
        m_gathering.writeRun(connection);
        if (!connection.dropUnstartedToFit(wire.size(), DeliveryBudget::kClientCap))
            return false;
        waiting = connection.queuedBytes();
    }
    if (m_budget.totalAdmits(wire) || makeRoomFor(target, waiting, wire))
        return true;
    if (admission != Admission::LastWords)
        return false;
    // Nobody is further behind: the client's own unstarted messages give way, as far as they
    // free memory (a message other queues hold stays held).
    m_gathering.writeRun(connection);
    connection.dropUnstartedToFit(wire.size(), 0);
    return m_budget.totalAdmits(wire);
}

// All queues together are full. The clients that hold the most give way, the largest queue
// first, until the message fits: they are behind by more than the client being sent to, so a
// client that keeps up never pays for those that do not. Never the client being sent to, nor
// one whose event is being handled. Each leaves at once; its leaving is reported later
// (reportEvicted), since the caller may be relaying to the roster right now.
bool TcpServer::makeRoomFor(const Client& target, size_t targetWaiting, std::string_view wire)
{
    std::vector<Client*> behind;
    for (const auto& client : m_clients) {
        if (client.get() != &target && !client->inEvent && client->connection->queuedBytes() > targetWaiting)
            behind.push_back(client.get());
    }
    std::ranges::sort(behind, std::ranges::greater {}, [](const Client* client) { return client->connection->queuedBytes(); });
    for (Client* client : behind) {
        if (m_budget.totalAdmits(wire))
            break;
        std::unique_ptr<Client> evicted = removeClient(client);
        m_evicted.push_back(evicted->address());
        // What the socket takes now goes; the rest of its queue is dropped with the connection.
        evicted->connection->markClosing();
        evicted->connection->close();
        closeConnection(std::move(evicted));
    }
    return m_budget.totalAdmits(wire);
}

// The one place a connection's closing state is set. Idempotent: the first end wins, and its
// last words are the last bytes the connection is sent.
void TcpServer::finish(Client& client, std::string_view lastWords)
{
    Connection& connection = *client.connection;
    if (connection.isClosing())
        return;
    m_gathering.forget(connection);
    if (!lastWords.empty() && admits(client, lastWords, Admission::LastWords))
        connection.deliver(lastWords);
    connection.markClosing();
}

// A transport that ends its connections with a closing handshake (or an HTTP answer) says why.
void TcpServer::finishWithFarewell(Client& client, CloseReason reason)
{
    finish(client, client.connection->transport().farewell(reason));
}

void TcpServer::closeConnection(std::unique_ptr<Client> client)
{
    finish(*client, {});
    m_closing.close(std::move(client->connection));
    armDeadlineAlarm();
    // A socket of ours has freed a handle, or will soon: a listener short of one may go on.
    m_listener.handleFreed();
    for (auto& entrance : m_entrances)
        entrance->handleFreed();
}

// The alarm stands at the nearest deadline of a closing or a waiting connection.
void TcpServer::armDeadlineAlarm()
{
    std::optional<std::chrono::steady_clock::time_point> next = m_closing.nextDeadline();
    if (!m_waiting.empty()) {
        auto joinBy = m_joinDeadlines.nextDeadline([this](uint64_t waiting) { return m_waiting.contains(waiting); });
        if (joinBy && (!next || *joinBy < *next))
            next = joinBy;
    }
    if (!next) {
        m_deadlineAlarm.reset();
        return;
    }
    if (m_deadlineAlarm && m_deadlineArmedFor == *next)
        return;
    m_deadlineArmedFor = *next;
    m_deadlineAlarm = m_services.watchers.wakeAt(*next, [this] { onDeadline(); });
}

// Entering the component's outermost scope gives up what is overdue and arms the alarm again.
void TcpServer::onDeadline()
{
    // This alarm is spent: whatever is armed next is a new one.
    m_deadlineAlarm.reset();
    if (putOffWhileNested(m_deadlineAlarm, &TcpServer::onDeadline))
        return;
    ReadinessDispatch::Scope scope(m_dispatch);
}

// Every alarm of the component comes here first: inside one of its callbacks it is armed again
// for a little later. True when it was put off.
bool TcpServer::putOffWhileNested(std::unique_ptr<Alarm>& alarm, void (TcpServer::*onAlarm)())
{
    if (!m_dispatch.inCallback())
        return false;
    alarm = m_services.watchers.wakeAt(std::chrono::steady_clock::now() + kNestedAlarmRetry, [this, onAlarm] { (this->*onAlarm)(); });
    return true;
}
