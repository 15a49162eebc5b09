// QSocketNotifier behind the server component's watcher interface.
#include "console/QtReadinessWatchers.h"

#include <QSocketNotifier>

namespace {

class QtReadinessWatcher final : public ReadinessWatcher {
public:
    QtReadinessWatcher(int fd, QSocketNotifier::Type type, std::function<void()> onReady)
        : m_notifier(new QSocketNotifier(fd, type))
    {
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

} // namespace

std::unique_ptr<ReadinessWatcher> QtReadinessWatcherFactory::watchReadable(int fd, std::function<void()> onReady)
{
    return std::make_unique<QtReadinessWatcher>(fd, QSocketNotifier::Read, std::move(onReady));
}

std::unique_ptr<ReadinessWatcher> QtReadinessWatcherFactory::watchWritable(int fd, std::function<void()> onReady)
{
    return std::make_unique<QtReadinessWatcher>(fd, QSocketNotifier::Write, std::move(onReady));
}
