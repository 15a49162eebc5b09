// One epoll set behind the readiness watchers (see EpollWatchers.h).
#include "platform/posix/EpollWatchers.h"

#include "platform/posix/PosixSocketHandle.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

// Ready sockets taken per dispatch: those left over are still ready at the next one, so a
// dispatch stays short and the window's own events get their turn in between.
constexpr int kEventsPerDispatch = 128;
// An error or a hang-up concerns the reader and the writer alike: whichever is enabled is
// called and finds out.
constexpr uint32_t kTrouble = EPOLLERR | EPOLLHUP;
constexpr uint32_t kBothKinds = EPOLLIN | EPOLLOUT;
constexpr int kGenerationShift = 32;

// An event names the descriptor and its generation (see Registration).
uint64_t keyOf(int fd, uint32_t generation)
{
    return (static_cast<uint64_t>(generation) << kGenerationShift) | static_cast<uint32_t>(fd);
}

} // namespace

// Shared by its watcher and by each of its callbacks on the stack, so that a watcher destroyed
// inside its own callback leaves the entry until that callback has returned.
struct EpollWatchers::Entry : std::enable_shared_from_this<Entry> {
    std::function<void()> onReady;
    int fd = -1; // the watched socket's descriptor, owned by the socket's owner
    uint32_t kind = 0; // EPOLLIN or EPOLLOUT
    bool enabled = false;
    bool alive = true; // its watcher exists
    bool attached = false; // it is its descriptor's watcher of its kind
    // Its first enabling makes sure of the kernel's interest: the descriptor may be the number
    // of a closed socket whose interest the set still records.
    bool synced = false;
    uint64_t lastBatch = 0; // the dispatch that last called it
};

// What the server component holds; the entry stays while its callback runs, even when the
// watcher is destroyed inside it.
class EpollWatchers::Watcher final : public ReadinessWatcher {
public:
    Watcher(EpollWatchers& set, std::shared_ptr<Entry> entry)
        : m_set(set)
        , m_entry(std::move(entry))
    {
    }
    ~Watcher() override { m_set.release(*m_entry); }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    void setEnabled(bool enabled) override { m_set.setEnabled(*m_entry, enabled); }

private:
    EpollWatchers& m_set;
    std::shared_ptr<Entry> m_entry;
};

// The alarms' timer is made with the set, not on the first alarm, so that the program holds
// the same descriptors whether or not a deadline has come up yet.
EpollWatchers::EpollWatchers()
    : m_epoll(epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll.valid())
        m_alarms = std::make_unique<TimerfdAlarms>(*this);
}

std::unique_ptr<ReadinessWatcher> EpollWatchers::watchReadable(SocketHandle socket, std::function<void()> onReady)
{
    return watch(socket, EPOLLIN, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> EpollWatchers::watchWritable(SocketHandle socket, std::function<void()> onReady)
{
    return watch(socket, EPOLLOUT, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> EpollWatchers::watch(SocketHandle socket, uint32_t kind, std::function<void()> onReady)
{
    auto entry = std::make_shared<Entry>();
    entry->onReady = std::move(onReady);
    entry->fd = descriptorOf(socket);
    entry->kind = kind;
    return std::make_unique<Watcher>(*this, std::move(entry));
}

std::unique_ptr<RoundEndHook> EpollWatchers::afterEachRound(std::function<void()> onRoundEnd)
{
    return m_roundEndHooks.add(std::move(onRoundEnd));
}

std::unique_ptr<Alarm> EpollWatchers::wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue)
{
    if (!m_epoll.valid())
        return nullptr;
    return m_alarms->wakeAt(due, std::move(onDue));
}

void EpollWatchers::setEnabled(Entry& entry, bool enabled)
{
    entry.enabled = enabled && entry.alive;
    // Disabling waits until the socket is reported (see the header).
    if (!entry.enabled || entry.fd < 0 || !m_epoll.valid())
        return;
    attach(entry);
    Registration& registration = registrationOf(entry.fd);
    if (!entry.synced) {
        entry.synced = true;
        setInterest(entry.fd, wantedInterest(registration), true);
    } else if (!(registration.interest & entry.kind)) {
        setInterest(entry.fd, registration.interest | entry.kind, false);
    }
}

void EpollWatchers::release(Entry& entry)
{
    entry.alive = false;
    entry.enabled = false;
    detach(entry);
}

void EpollWatchers::attach(Entry& entry)
{
    Registration& registration = registrationOf(entry.fd);
    Entry*& slot = entry.kind == EPOLLIN ? registration.reader : registration.writer;
    if (slot == &entry)
        return;
    // A watcher of the same kind left from a socket that had this number before.
    if (slot)
        slot->attached = false;
    slot = &entry;
    entry.attached = true;
}

void EpollWatchers::detach(Entry& entry)
{
    if (!entry.attached)
        return;
    Registration& registration = registrationOf(entry.fd);
    Entry*& slot = entry.kind == EPOLLIN ? registration.reader : registration.writer;
    if (slot == &entry)
        slot = nullptr;
    entry.attached = false;
}

EpollWatchers::Registration& EpollWatchers::registrationOf(int fd)
{
    if (static_cast<size_t>(fd) >= m_registrations.size())
        m_registrations.resize(static_cast<size_t>(fd) + 1);
    return m_registrations[static_cast<size_t>(fd)];
}

uint32_t EpollWatchers::wantedInterest(const Registration& registration) const
{
    uint32_t interest = 0;
    if (registration.reader && registration.reader->enabled)
        interest |= EPOLLIN;
    if (registration.writer && registration.writer->enabled)
        interest |= EPOLLOUT;
    return interest;
}

// Tells the kernel the interest for a descriptor. `resync` makes the call even when the set
// records that interest already, for a descriptor that may have been closed since.
void EpollWatchers::setInterest(int fd, uint32_t interest, bool resync)
{
    Registration& registration = registrationOf(fd);
    if (!resync && interest == registration.interest)
        return;
    if (interest == 0) {
        // Fails harmlessly when the descriptor is closed: the kernel dropped it then.
        epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
        registration.interest = 0;
        return;
    }
    epoll_event event {};
    event.events = interest;
    // A descriptor the set records is modified; one it does not is added, and one whose first
    // watcher is enabled is added too (it is almost always a new socket), modified only when
    // the set has it already (the socket's other watcher came first).
    if (registration.interest != 0 && !resync) {
        event.data.u64 = keyOf(fd, registration.generation);
        if (epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, fd, &event) == 0) {
            registration.interest = interest;
            return;
        }
        // Not in the set: the socket that had this number was closed.
    }
    ++registration.generation;
    event.data.u64 = keyOf(fd, registration.generation);
    bool added = epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, fd, &event) == 0
        || (errno == EEXIST && epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, fd, &event) == 0);
    registration.interest = added ? interest : 0;
}

void EpollWatchers::dispatch(int timeoutMs)
{
    epoll_event events[kEventsPerDispatch];
    // A signal that interrupts the wait has its own way in (the close-signal pipe).
    int count = epoll_wait(m_epoll.get(), events, kEventsPerDispatch, timeoutMs);
    if (count <= 0)
        return;
    uint64_t batch = ++m_batch;
    for (int i = 0; i < count; ++i)
        handleEvent(events[i].data.u64, events[i].events, batch);
    m_roundEndHooks.run();
}

// Callbacks may close sockets, make watchers (growing the table) and reuse descriptor
// numbers, so the registration is looked up again after each one.
void EpollWatchers::handleEvent(uint64_t key, uint32_t events, uint64_t batch)
{
    auto fd = static_cast<int>(static_cast<uint32_t>(key));
    auto generation = static_cast<uint32_t>(key >> kGenerationShift);
    auto current = [&]() -> Registration* {
        if (static_cast<size_t>(fd) >= m_registrations.size())
            return nullptr;
        Registration& registration = m_registrations[static_cast<size_t>(fd)];
        return registration.generation == generation ? &registration : nullptr;
    };
    uint32_t reported = (events & kBothKinds) | ((events & kTrouble) ? kBothKinds : 0);
    Registration* registration = current();
    if (registration && (reported & EPOLLIN) && registration->reader)
        call(*registration->reader, batch);
    registration = current();
    if (registration && (reported & EPOLLOUT) && registration->writer)
        call(*registration->writer, batch);
    registration = current();
    if (!registration)
        return;
    // Interest that was reported for no enabled watcher is taken out now, or the level-
    // triggered set would report it again and again (a nested loop would spin on it).
    uint32_t unwanted = reported & registration->interest & ~wantedInterest(*registration);
    if (unwanted)
        setInterest(fd, registration->interest & ~unwanted, false);
}

void EpollWatchers::call(Entry& entry, uint64_t batch)
{
    // A nested dispatch that looked after this one did may have served the socket already;
    // if it is still ready, the next dispatch says so.
    if (!entry.enabled || entry.lastBatch > batch)
        return;
    entry.lastBatch = batch;
    std::shared_ptr<Entry> keep = entry.shared_from_this();
    entry.onReady();
}
