// The server component's members that follow the room (a page that shows who said what):
// their welcome with a session, the replay of the room's memory when they join or take up
// their session again from a new connection, the roster told to them when it changes (at
// most once every kMembersInterval), and their liveness (a ping every kPingInterval, the end
// after kSilenceLimit of silence).
// A member whose connection ends as a network blink ends it stays on the roster for its grace
// period, for a new connection to take up its session.
// Other clients never see any of this: their transports frame none of it.
#include "net/TcpServer.h"

#include "net/TcpServerClient.h"

#include <algorithm>
#include <cstdio>

namespace {

// A session names a member to whoever presents it, so it is random and long enough that
// guessing one is hopeless.
constexpr int kSessionWords = 4; // of 32 bits each

} // namespace

// The connection has just opened: it takes up the session it names, when a member holds that
// session, or is welcomed with a new one. Returns the id the connection goes on under.
uint64_t TcpServer::openFollower(uint64_t clientId, const Incoming& incoming)
{
    Client* client = findById(clientId);
    if (incoming.resumeSession && m_waiting.contains(clientId)) {
        Client* member = findBySession(*incoming.resumeSession);
        if (member && !member->inEvent) {
            takeOver(*member, removeWaiting(clientId), incoming.resumeAfter);
            return clientId;
        }
    }
    std::string session;
    for (int word = 0; word < kSessionWords; ++word) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(m_sessionRandom() & 0xFFFFFFFFu));
        session += hex;
    }
    client->session = std::move(session);
    answer(*client, client->connection->transport().welcome({ .session = client->session, .address = client->address() }));
    return clientId;
}

// The newcomer takes the member's place on the roster (its name, session, nickname and place
// in the list), so the room sees neither a leave nor an enter; the member's connection ends.
void TcpServer::takeOver(Client& member, std::unique_ptr<Client> newcomer, std::optional<uint64_t> after)
{
    newcomer->name = member.name;
    newcomer->session = member.session;
    newcomer->nickname = member.nickname;
    newcomer->position = member.position;
    newcomer->lastHeard = std::chrono::steady_clock::now();
    size_t position = member.position;
    std::unique_ptr<Client> replaced = std::move(m_clients[position]);
    m_clients[position] = std::move(newcomer);
    Client& resumed = *m_clients[position];
    m_byAddress.insert_or_assign(resumed.name, &resumed);
    m_byId.erase(replaced->id);
    m_byId.insert_or_assign(resumed.id, &resumed);
    finishWithFarewell(*replaced, CloseReason::Replaced);
    closeConnection(std::move(replaced));
    refreshReadWatch(resumed);

    uint64_t missed = after && m_memory ? m_memory->forgottenAfter(*after) : 0;
    answer(resumed, resumed.connection->transport().welcome({ .session = resumed.session, .address = resumed.name, .resumed = true, .missed = missed }));
    replayTo(resumed, after);
    membersChanged();
}

// The memory (all of it, or what came after `after`), then the word that the replay is over.
void TcpServer::replayTo(Client& client, std::optional<uint64_t> after)
{
    if (m_memory) {
        m_memory->replay(after, [&](const OutgoingMessage& message) {
            OutgoingMessage replayed = message;
            replayed.replayed = true;
            sendTo(client, replayed);
        });
    }
    answer(client, client.connection->transport().live());
}

TcpServer::Client* TcpServer::findBySession(std::string_view session) const
{
    if (session.empty())
        return nullptr;
    auto found = std::ranges::find_if(m_clients, [&](const auto& client) { return client->session == session; });
    return found == m_clients.end() ? nullptr : found->get();
}

void TcpServer::noteHeard(Client& client)
{
    client.lastHeard = std::chrono::steady_clock::now();
    armLivenessAlarm();
}

// Where the loop has rounds, the roster is told once at a round's end however much changed in
// it; elsewhere at once.
void TcpServer::membersChanged()
{
    m_membersChanged = true;
    if (!m_reportAtRoundEnd)
        sendMembersIfChanged();
}

void TcpServer::setNickname(std::string_view address, std::string_view utf8Name)
{
    // A page's own word for its nickname stands (it may hold what code page 936 cannot).
    Client* client = findByAddress(address);
    if (!client || client->followsRoom())
        return;
    std::optional<std::string> nickname;
    if (!utf8Name.empty())
        nickname = std::string(utf8Name);
    if (client->nickname == nickname)
        return;
    client->nickname = std::move(nickname);
    membersChanged();
}

// The owner learns the nickname a page gave; its handler may change the roster, so the client
// is looked up again afterwards.
TcpServer::Client* TcpServer::tellNickname(uint64_t clientId)
{
    Client* client = findById(clientId);
    if (!client || !client->nickname || !m_onNicknameGiven)
        return client;
    std::string name = client->name;
    std::string nickname = *client->nickname;
    m_onNicknameGiven(name, nickname);
    return findById(clientId);
}

// Tells the followers the roster when it changed, or, within kMembersInterval of the last
// telling, arms the alarm that tells them the roster as it stands once the interval is over.
void TcpServer::sendMembersIfChanged()
{
    if (!m_membersChanged || m_membersAlarm)
        return;
    auto now = std::chrono::steady_clock::now();
    if (m_membersToldAt && now < *m_membersToldAt + kMembersInterval) {
        m_membersAlarm = m_services.watchers.wakeAt(*m_membersToldAt + kMembersInterval, [this] { onMembersAlarm(); });
        return;
    }
    m_membersChanged = false;
    m_membersToldAt = now;
    std::vector<uint64_t> followers = clientIds([](const Client& client) { return client.followsRoom() && !client.inGrace(); });
    if (followers.empty())
        return;
    // Sending may make others give way: the list is a copy.
    struct Member {
        std::string address;
        std::optional<std::string> name;
        bool web;
    };
    std::vector<Member> roster;
    roster.reserve(m_clients.size());
    for (const auto& client : m_clients)
        roster.push_back({ client->name, client->nickname, client->connection->transport().isWeb() });
    std::vector<MemberEntry> entries;
    entries.reserve(roster.size());
    for (const Member& member : roster)
        entries.push_back({ member.address, member.name ? std::optional<std::string_view>(*member.name) : std::nullopt, member.web });
    MemberList list { .entries = entries };
    for (uint64_t id : followers) {
        if (Client* client = findById(id))
            answer(*client, client->connection->transport().members(client->name, list));
    }
}

void TcpServer::onMembersAlarm()
{
    m_membersAlarm.reset();
    if (putOffWhileNested(m_membersAlarm, &TcpServer::onMembersAlarm))
        return;
    ReadinessDispatch::Scope scope(m_dispatch);
    sendMembersIfChanged();
}

void TcpServer::armLivenessAlarm()
{
    if (m_livenessAlarm)
        return;
    m_livenessAlarm = m_services.watchers.wakeAt(std::chrono::steady_clock::now() + kPingInterval, [this] { onLivenessAlarm(); });
}

// Every member that follows the room is pinged; one that has been silent too long is ended,
// and leaves as any member does.
void TcpServer::onLivenessAlarm()
{
    m_livenessAlarm.reset();
    if (putOffWhileNested(m_livenessAlarm, &TcpServer::onLivenessAlarm))
        return;
    ReadinessDispatch::Scope scope(m_dispatch);
    auto now = std::chrono::steady_clock::now();
    for (uint64_t id : clientIds([](const Client& client) { return client.followsRoom(); })) {
        Client* client = findById(id);
        if (!client || client->inEvent || client->inGrace())
            continue;
        if (now - client->lastHeard > kSilenceLimit) {
            finishWithFarewell(*client, CloseReason::TimedOut);
            endClient(removeClient(client));
            continue;
        }
        answer(*client, client->connection->transport().ping());
    }
    bool anyLeft = std::ranges::any_of(m_clients, [](const auto& client) { return client->followsRoom(); })
        || std::ranges::any_of(m_waiting, [](const auto& entry) { return entry.second->followsRoom(); });
    if (anyLeft)
        armLivenessAlarm();
}

// A member that follows the room and whose connection ended without a close frame, or with
// "going away" (a page that reloads), keeps its place on the roster for the grace period: its
// connection closes now, what the room sends it meanwhile is left to the history, and a new
// connection may take up its session (takeOver). True when the member is held so.
bool TcpServer::holdInGrace(Client& client, const Incoming& incoming, bool peerEnded)
{
    bool blink = (peerEnded && !incoming.ends) || incoming.mayResume;
    if (!blink || !client.followsRoom() || client.session.empty() || m_waiting.contains(client.id))
        return false;
    finish(client, incoming.lastWords);
    m_gathering.forget(*client.connection);
    client.connection->close();
    client.graceUntil = std::chrono::steady_clock::now() + kGracePeriod;
    membersChanged();
    armGraceAlarm();
    return true;
}

void TcpServer::armGraceAlarm()
{
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const auto& client : m_clients) {
        if (client->graceUntil && (!next || *client->graceUntil < *next))
            next = client->graceUntil;
    }
    m_graceAlarm.reset();
    if (next)
        m_graceAlarm = m_services.watchers.wakeAt(*next, [this] { onGraceAlarm(); });
}

// Members whose grace period is over leave as any member does.
void TcpServer::onGraceAlarm()
{
    m_graceAlarm.reset();
    if (putOffWhileNested(m_graceAlarm, &TcpServer::onGraceAlarm))
        return;
    ReadinessDispatch::Scope scope(m_dispatch);
    auto now = std::chrono::steady_clock::now();
    for (uint64_t id : clientIds([now](const Client& client) { return client.graceUntil && *client.graceUntil <= now; })) {
        if (Client* client = findById(id))
            endClient(removeClient(client));
    }
    armGraceAlarm();
}
