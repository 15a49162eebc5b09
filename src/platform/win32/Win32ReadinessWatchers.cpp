// Socket readiness as window messages (see Win32ReadinessWatchers.h).
#include "platform/win32/Win32ReadinessWatchers.h"

#include "platform/win32/Win32SocketTurns.h"

#include <map>

namespace {

constexpr long kReadEvents = FD_READ | FD_ACCEPT | FD_CLOSE;
constexpr long kWriteEvents = FD_WRITE | FD_CLOSE;

enum class Direction { Read, Write };
class Win32ReadinessWatcher;

// The watchers of one socket; Winsock keeps one registration per socket, the union of theirs.
// A record serves one socket for its whole life: it takes one reader and one writer at most,
// ever. Windows gives a closed socket's value out again, and a watcher of the closed socket
// may still live then; a new watcher of a direction the record has had already belongs to a
// new socket, which gets a record of its own, and the old record's watchers no longer touch
// the socket's registration. (The server component watches a socket for reading before it
// ever watches it for writing, so a new socket never joins a stale reader.)
struct SocketRecord final : PendingSocket {
    explicit SocketRecord(SOCKET value)
        : socket(value)
    {
    }
    void deliver(long events) override;

    SOCKET socket;
    Win32ReadinessWatcher* reader = nullptr;
    Win32ReadinessWatcher* writer = nullptr;
    bool hadReader = false;
    bool hadWriter = false;
};

} // namespace

class Win32ReadinessWatcherFactory::Records {
public:
    Records()
        : turns([this](SOCKET socket) { return find(socket); }, [this] { recheckWriters(); })
    {
    }

    std::shared_ptr<PendingSocket> find(SOCKET socket) const
    {
        auto found = current.find(socket);
        return found == current.end() ? nullptr : found->second;
    }

    void recheckWriters();

    std::map<SOCKET, std::shared_ptr<SocketRecord>> current;
    Win32SocketTurns turns;
};

namespace {

class Win32ReadinessWatcher final : public ReadinessWatcher {
public:
    Win32ReadinessWatcher(Win32ReadinessWatcherFactory::Records& records, SocketHandle socket, Direction direction, std::function<void()> onReady)
        : m_records(records)
        , m_direction(direction)
        , m_onReady(std::move(onReady))
    {
        auto native = static_cast<SOCKET>(static_cast<std::uintptr_t>(socket));
        auto& slot = m_records.current[native];
        if (!slot || had(*slot))
            slot = std::make_shared<SocketRecord>(native);
        m_record = slot;
        mine(*m_record) = this;
        had(*m_record) = true;
    }

    ~Win32ReadinessWatcher() override
    {
        mine(*m_record) = nullptr;
        m_enabled = false;
        if (!isCurrent())
            return;
        updateRegistration();
        if (!m_record->reader && !m_record->writer)
            m_records.current.erase(m_record->socket);
    }

    void setEnabled(bool enabled) override
    {
        if (enabled == m_enabled)
            return;
        m_enabled = enabled;
        if (!isCurrent())
            return;
        updateRegistration();
        if (enabled)
            queueIfReady();
    }

    bool enabled() const { return m_enabled; }

    void deliver()
    {
        if (!m_enabled || !m_onReady)
            return;
        m_onReady();
    }

    // Level-triggered: readiness that came while the watcher was off, or that Winsock does not
    // announce, is found by asking.
    bool queueIfReady()
    {
        bool reading = m_direction == Direction::Read;
        WSAPOLLFD entry { m_record->socket, static_cast<SHORT>(reading ? POLLRDNORM : POLLWRNORM), 0 };
        if (WSAPoll(&entry, 1, 0) <= 0 || entry.revents == 0)
            return false;
        m_records.turns.note(m_record, reading ? FD_READ : FD_WRITE);
        return true;
    }

private:
    Win32ReadinessWatcher*& mine(SocketRecord& record) const { return m_direction == Direction::Read ? record.reader : record.writer; }
    bool& had(SocketRecord& record) const { return m_direction == Direction::Read ? record.hadReader : record.hadWriter; }

    bool isCurrent() const
    {
        auto found = m_records.current.find(m_record->socket);
        return found != m_records.current.end() && found->second == m_record;
    }

    void updateRegistration()
    {
        long events = 0;
        if (m_record->reader && m_record->reader->m_enabled)
            events |= kReadEvents;
        if (m_record->writer && m_record->writer->m_enabled)
            events |= kWriteEvents;
        HWND window = m_records.turns.window();
        WSAAsyncSelect(m_record->socket, window, events ? Win32SocketTurns::socketMessage() : 0, events);
    }

    Win32ReadinessWatcherFactory::Records& m_records;
    Direction m_direction;
    std::function<void()> m_onReady;
    std::shared_ptr<SocketRecord> m_record;
    bool m_enabled = false;
};

// The callbacks may destroy the watchers; the turn keeps the record alive while they run.
void SocketRecord::deliver(long events)
{
    if ((events & kReadEvents) && reader)
        reader->deliver();
    if ((events & kWriteEvents) && writer)
        writer->deliver();
}

} // namespace

// An enabled writer whose socket is writable now, but that Winsock has not announced (a send
// refused with WSAENOBUFS), is queued; while writers wait, they are looked at again.
void Win32ReadinessWatcherFactory::Records::recheckWriters()
{
    bool waiting = false;
    for (const auto& [socket, record] : current) {
        if (record->writer && record->writer->enabled() && !record->writer->queueIfReady())
            waiting = true;
    }
    if (waiting)
        turns.recheckSoon();
}

Win32ReadinessWatcherFactory::Win32ReadinessWatcherFactory()
    : m_records(std::make_unique<Records>())
{
}

Win32ReadinessWatcherFactory::~Win32ReadinessWatcherFactory() = default;

std::unique_ptr<ReadinessWatcher> Win32ReadinessWatcherFactory::watchReadable(SocketHandle socket, std::function<void()> onReady)
{
    return std::make_unique<Win32ReadinessWatcher>(*m_records, socket, Direction::Read, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> Win32ReadinessWatcherFactory::watchWritable(SocketHandle socket, std::function<void()> onReady)
{
    return std::make_unique<Win32ReadinessWatcher>(*m_records, socket, Direction::Write, std::move(onReady));
}

std::unique_ptr<RoundEndHook> Win32ReadinessWatcherFactory::afterEachRound(std::function<void()> onRoundEnd)
{
    return m_records->turns.roundEndHooks().add(std::move(onRoundEnd));
}

std::unique_ptr<Alarm> Win32ReadinessWatcherFactory::wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue)
{
    return m_records->turns.alarms().add(due, std::move(onDue));
}
