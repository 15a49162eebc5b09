// Socket readiness on the window thread through QSocketNotifier, for the server component.
#pragma once

#include "net/ReadinessWatcher.h"

class QtReadinessWatcherFactory final : public ReadinessWatcherFactory {
public:
    std::unique_ptr<ReadinessWatcher> watchReadable(int fd, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(int fd, std::function<void()> onReady) override;
};
