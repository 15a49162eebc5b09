// The reading thread of one client (see BackgroundReader.h).
#include "BackgroundReader.h"

namespace {
// One read's wait: how soon the thread notices a stop request.
constexpr int kReadSliceMs = 50;
}

BackgroundReader::BackgroundReader(test_support::LoopbackClient& client, Consumer consume, std::chrono::milliseconds limit)
    : m_consume(std::move(consume))
    , m_thread([this, &client, limit](std::stop_token stop) { run(stop, client, limit); })
{
}

BackgroundReader::~BackgroundReader()
{
    stop();
}

void BackgroundReader::stop()
{
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool BackgroundReader::waitUntilDone(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    return m_doneChanged.wait_for(lock, wait, [this] { return m_done.load(); });
}

void BackgroundReader::run(std::stop_token stop, test_support::LoopbackClient& client, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
        std::string piece = client.readSome(kReadSliceMs);
        if (piece.empty()) {
            if (client.hasEnded() || !client.isOpen()) {
                m_streamEnded = client.hasEnded();
                break;
            }
            continue;
        }
        if (!m_consume(piece)) {
            m_consumerFinished = true;
            break;
        }
    }
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_doneChanged.notify_all();
}
