// Reads one client on a thread of its own, so that many clients keep up with a stream at once
// and the server never waits on them. Every piece read goes to `consume`, which says whether
// to go on; the thread also ends at the end of the stream and, at the latest, after `limit`.
#pragma once

#include "support/LoopbackClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

class BackgroundReader {
public:
    using Consumer = std::function<bool(std::string_view)>;

    BackgroundReader(test_support::LoopbackClient& client, Consumer consume, std::chrono::milliseconds limit);
    // Stops the thread (within one short read) and waits for it.
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    // Stops the thread and waits for it; the bytes it has not read stay with the client.
    void stop();
    // Waits for the thread to end by itself; false when it is still reading after `wait`.
    bool waitUntilDone(std::chrono::milliseconds wait);
    bool isDone() const { return m_done; }
    // Why it ended: the consumer had enough, the stream ended, or time ran out.
    bool consumerFinished() const { return m_consumerFinished; }
    bool streamEnded() const { return m_streamEnded; }

private:
    void run(std::stop_token stop, test_support::LoopbackClient& client, std::chrono::milliseconds limit);

    Consumer m_consume;
    std::atomic<bool> m_done { false };
    std::atomic<bool> m_consumerFinished { false };
    std::atomic<bool> m_streamEnded { false };
    std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    std::jthread m_thread;
};
