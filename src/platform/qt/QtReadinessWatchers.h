// Socket readiness on the window thread through QSocketNotifier, for the server component and
// the close-signal pipe.
#pragma once

#include "net/ReadinessWatcher.h"

class QtReadinessWatcherFactory final : public ReadinessWatcherFactory {
public:
    std::unique_ptr<ReadinessWatcher> watchReadable(SocketHandle socket, std::function<void()> onReady) override;
    std::unique_ptr<ReadinessWatcher> watchWritable(SocketHandle socket, std::function<void()> onReady) override;
};
