// Ports on this machine for tests that run a server in-process: one that nobody listens on,
// so that a test never depends on the fixed port being free, and one that somebody else holds.
#pragma once

#include "support/TestSockets.h"

namespace test_support {

// A port that nobody listens on right now: bound by a probe socket, read back, released.
int freeTcpPort();

// Another program's listener on a port of its own, held while the object lives.
class PortHolder {
public:
    PortHolder();
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    int port() const { return m_port; }

private:
    SocketFd m_fd = -1;
    int m_port = 0;
};

} // namespace test_support
