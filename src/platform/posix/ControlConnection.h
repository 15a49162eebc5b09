// One connection to the room's control socket: it reads one request line into a bounded
// buffer, has the room answer it, writes the answer and closes gracefully. Everything runs on
// the window thread's loop; nothing here ever waits for the peer.
#pragma once

#include "admin/AdminProtocol.h"
#include "net/ReadinessWatcher.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// How the room answers: a whole request line, or one of the endpoint's own refusals.
struct ControlAnswers {
    std::function<std::string(std::string_view line)> request;
    std::function<std::string(ControlProblem problem)> problem;
};

class ControlConnection {
public:
    // `onDone` runs once, as the last thing the connection does, with the socket closed; the
    // owner destroys the connection later, outside the connection's own callbacks.
    ControlConnection(OwnedSocket socket, ReadinessWatcherFactory& watchers, const ControlAnswers& answers, std::function<void(ControlConnection&)> onDone);
    ~ControlConnection();
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;

    // Waits for the request.
    void start();
    // Answers at once without reading a request (a refusal), then closes.
    void answerWithout(ControlProblem problem);
    // True while the room is running this connection's request: it must not go away then.
    bool running() const { return m_state == State::Running; }
    bool done() const { return m_state == State::Done; }
    // Ends the connection now, telling the peer why in as much as the socket takes at once.
    // `onDone` is not called: the owner, who asked, takes it away.
    void abandon(ControlProblem problem);

private:
    enum class State { Reading, Running, Writing, Done };

    void onReadable();
    void onWritable();
    void respond(std::string answer);
    // False when the connection broke.
    bool writePending();
    void finish();
    void closeGracefully();

    OwnedSocket m_socket;
    ReadinessWatcherFactory& m_watchers;
    const ControlAnswers& m_answers;
    std::function<void(ControlConnection&)> m_onDone;
    std::unique_ptr<ReadinessWatcher> m_readWatcher;
    std::unique_ptr<ReadinessWatcher> m_writeWatcher;
    std::string m_request;
    std::string m_answer;
    size_t m_sent = 0;
    State m_state = State::Reading;
};
