// The stress suite's fixture: the end-to-end room with the server's state at hand, and the
// texts that the stress cases expect in their streams.
//
// Memory is measured with a small AddressSanitizer quarantine where the program is built with
// it: the default quarantine keeps up to 256 MiB of freed blocks resident, which would hide
// any growth of the program's own and look like growth where there is none.
#pragma once

#include "ProcessProbe.h"
#include "RoomTest.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Whether this build (and so the program's) runs under AddressSanitizer, which makes the
// program bigger and slower.
inline constexpr bool kSanitizedBuild =
#if defined(__SANITIZE_ADDRESS__)
    true;
#else
    false;
#endif

class StressRoom : public RoomTest {
protected:
    using Milliseconds = std::chrono::milliseconds;

    pid_t serverPid() { return server().pid(); }

    // Fills the connection of `stalled` (connected with a small receive buffer, and reading
    // nothing from here on): `sender` sends more than the server's send buffer for it can
    // grow to, and every other client reads it. Afterwards every message for that client
    // waits in the server's queue for it (until that is at its cap, when the client misses
    // the message), and nobody else waits on it.
    void fillConnection(LoopbackClient& sender, const LoopbackClient& stalled) { fillConnections(sender, { &stalled }); }

    // The same for several stalled clients at once: one relay fills them all, and none of
    // them reads any of it. The filler goes out in pieces, each read by every other client
    // before the next is sent: a reader that fell further behind than its queue's cap (a
    // loaded machine grows the kernel's buffers slowly) would miss a piece by design.
    void fillConnections(LoopbackClient& sender, const std::vector<const LoopbackClient*>& stalled)
    {
        // Far below the server's per-client queue cap, kernel buffers included.
        constexpr size_t kPiece = 1024 * 1024;
        const size_t fillerSize = std::max<size_t>(largestSendBuffer(), 4 * 1024 * 1024) + 2 * 1024 * 1024;
        const std::string piece(kPiece, 'f');
        for (size_t sent = 0; sent < fillerSize; sent += kPiece)
            expectAllReceiveAtOnce(piece, stalled, [&] { sender.send(piece); });
    }

    // Every open client (but those in `except`) reads exactly `expected` next, all at the
    // same time: for data larger than a connection holds, which one-by-one reading would leave
    // the server waiting on. `send`, when given, sends the data once the readers read: readers
    // that start only after a large send has gone out find their queues at the server's cap (a
    // loaded machine grows the kernel's buffers slowly), and rightly miss what passed it.
    void expectAllReceiveAtOnce(const std::string& expected, const std::vector<const LoopbackClient*>& except = {},
        const std::function<void()>& send = {})
    {
        std::vector<LoopbackClient*> clients = openClients();
        std::erase_if(clients, [&](const LoopbackClient* client) { return std::ranges::find(except, client) != except.end(); });
        std::vector<std::string> received(clients.size());
        {
            std::vector<std::jthread> readers;
            for (size_t i = 0; i < clients.size(); ++i)
                readers.emplace_back([&, i] { received[i] = clients[i]->readExactly(expected.size(), 60000); });
            if (send)
                send();
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            EXPECT_EQ(received[i].size(), expected.size()) << "received by " << clients[i]->address();
            EXPECT_TRUE(received[i] == expected) << "received by " << clients[i]->address() << ": different bytes";
        }
    }

    // Call before startServer.
    void measureMemory() { m_smallQuarantine = true; }

    void prepareServer(ServerProcess& process) override
    {
#if defined(__SANITIZE_ADDRESS__)
        if (m_smallQuarantine) {
            const char* inherited = std::getenv("ASAN_OPTIONS");
            std::string options = inherited && *inherited ? std::string(inherited) + ":" : std::string();
            process.setEnvironmentVariable("ASAN_OPTIONS", options + "quarantine_size_mb=1");
        }
#else
        (void)process;
#endif
    }

private:
    bool m_smallQuarantine = false;
};
