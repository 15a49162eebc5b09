// Readiness watchers on the window thread's Qt loop (see QtReadinessWatchers.h).
#include "platform/qt/QtReadinessWatchers.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <QTimer>

namespace {

// Qt names a socket by the platform's own handle value, as SocketHandle does.
qintptr nativeHandle(SocketHandle socket)
{
    return static_cast<qintptr>(static_cast<std::uintptr_t>(socket));
}

// The fallback: one QSocketNotifier per socket and kind.
class QtReadinessWatcher final : public ReadinessWatcher {
public:
    QtReadinessWatcher(SocketHandle socket, QSocketNotifier::Type type, std::function<void()> onReady)
        : m_notifier(new QSocketNotifier(nativeHandle(socket), type))
    {
        m_notifier->setEnabled(false);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [callback = std::move(onReady)] { callback(); });
    }

    // The watcher may be destroyed from inside its own notification, so the notifier is
    // silenced at once and deleted when control is back in the event loop.
    ~QtReadinessWatcher() override
    {
        m_notifier->setEnabled(false);
        QObject::disconnect(m_notifier, nullptr, nullptr, nullptr);
        m_notifier->deleteLater();
    }

    void setEnabled(bool enabled) override { m_notifier->setEnabled(enabled); }

private:
    QSocketNotifier* m_notifier;
};

// The fallback's alarm: a single-shot timer, which Qt runs inside nested loops too.
class QtAlarm final : public Alarm {
public:
    QtAlarm(std::chrono::steady_clock::time_point due, std::function<void()> onDue)
        : m_timer(new QTimer)
    {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [callback = std::move(onDue)] { callback(); });
        m_timer->start(std::max(wait, std::chrono::milliseconds::zero()));
    }
    // As with the watcher: it may be destroyed inside its own callback.
    ~QtAlarm() override
    {
        m_timer->stop();
        QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
        m_timer->deleteLater();
    }
    QtAlarm(const QtAlarm&) = delete;
    QtAlarm& operator=(const QtAlarm&) = delete;

private:
    QTimer* m_timer;
};

} // namespace

EpollWatchers* QtReadinessWatcherFactory::epollSet()
{
    if (!m_set.valid())
        return nullptr;
    if (!m_notifier) {
        // A child of the application, so that it goes with it; a later application gets a
        // new one. Qt delivers its activation inside nested loops too (a message box), and
        // the set then serves the sockets ready there.
        m_notifier = new QSocketNotifier(m_set.descriptor(), QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { m_set.dispatch(); });
    }
    return &m_set;
}

std::unique_ptr<ReadinessWatcher> QtReadinessWatcherFactory::watchReadable(SocketHandle socket, std::function<void()> onReady)
{
    if (EpollWatchers* set = epollSet())
        return set->watchReadable(socket, std::move(onReady));
    return std::make_unique<QtReadinessWatcher>(socket, QSocketNotifier::Read, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> QtReadinessWatcherFactory::watchWritable(SocketHandle socket, std::function<void()> onReady)
{
    if (EpollWatchers* set = epollSet())
        return set->watchWritable(socket, std::move(onReady));
    return std::make_unique<QtReadinessWatcher>(socket, QSocketNotifier::Write, std::move(onReady));
}

std::unique_ptr<RoundEndHook> QtReadinessWatcherFactory::afterEachRound(std::function<void()> onRoundEnd)
{
    if (EpollWatchers* set = epollSet())
        return set->afterEachRound(std::move(onRoundEnd));
    return nullptr;
}

std::unique_ptr<Alarm> QtReadinessWatcherFactory::wakeAt(std::chrono::steady_clock::time_point due, std::function<void()> onDue)
{
    if (EpollWatchers* set = epollSet())
        return set->wakeAt(due, std::move(onDue));
    return std::make_unique<QtAlarm>(due, std::move(onDue));
}
