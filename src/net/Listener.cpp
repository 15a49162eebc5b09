// A listening socket and its accept throttling (see Listener.h).
#include "net/Listener.h"

namespace {

// Connections taken per accept notification, so a connection storm cannot hold the loop.
constexpr int kAcceptBatch = 64;

} // namespace

Listener::Listener(ReadinessWatcherFactory& watchers, ReadinessDispatch& dispatch, OnAccepted onAccepted)
    : m_watchers(watchers)
    , m_dispatch(dispatch)
    , m_onAccepted(std::move(onAccepted))
{
}

Listener::~Listener()
{
    close();
}

bool Listener::listen(uint16_t port)
{
    close();
    m_failure.clear();
    m_socket = sockets::openListener(port, m_failure);
    if (!m_socket)
        return false;
    m_watcher = m_watchers.watchReadable(m_socket.get(), [this] { onAcceptReady(); });
    m_watcher->setEnabled(true);
    m_paused = false;
    m_spare.retake();
    return true;
}

void Listener::close()
{
    m_dispatch.retire(std::move(m_watcher));
    m_socket.reset();
}

void Listener::onAcceptReady()
{
    ReadinessDispatch::Scope scope(m_dispatch);
    // The owner's handler may close or re-open this listener: the socket is read afresh.
    for (int taken = 0; taken < kAcceptBatch && m_socket && !m_paused; ++taken) {
        sockets::Accepted accepted = sockets::acceptConnection(m_socket.get());
        switch (accepted.outcome) {
        case sockets::AcceptOutcome::NoneWaiting:
            return;
        case sockets::AcceptOutcome::OutOfHandles:
            // The pending connection would keep the listener ready for ever: the spare handle
            // is given up for a moment to take that connection and drop it.
            if (!m_spare.dropPendingConnection(m_socket.get())) {
                if (!m_spare.held())
                    pause();
                return;
            }
            continue;
        case sockets::AcceptOutcome::Failed:
            continue;
        case sockets::AcceptOutcome::Accepted:
            break;
        }
        // A connection that took a handle the rest of the program needs, or whose peer has no
        // IPv4 address, is dropped at once (its owner closes it).
        if (sockets::takesReservedHandle(accepted.socket.get()) || accepted.address.empty())
            continue;
        m_onAccepted(std::move(accepted.socket), std::move(accepted.address));
    }
}

// Without a spare handle nothing can be dropped: stop watching the listener until one of our
// own sockets closes and frees a handle.
void Listener::pause()
{
    m_paused = true;
    if (m_watcher)
        m_watcher->setEnabled(false);
}

void Listener::handleFreed()
{
    if (!m_paused)
        return;
    m_spare.retake();
    m_paused = false;
    if (m_watcher)
        m_watcher->setEnabled(true);
}
