// One control connection (see ControlConnection.h).
#include "platform/posix/ControlConnection.h"

#include "net/SocketOperations.h"

namespace {

// The request line with a CR and its LF.
constexpr size_t kMaxLineBytes = kMaxAdminRequestBytes + 2;
// Input left unread after the request is read and dropped before closing, so that the close
// does not reset the connection and destroy the answer; a peer that sent more than this is
// not owed a clean close.
constexpr size_t kDiscardLimit = 64 * 1024;
constexpr char kLineEnd = '\n';

} // namespace

ControlConnection::ControlConnection(OwnedSocket socket, ReadinessWatcherFactory& watchers, const ControlAnswers& answers, std::function<void(ControlConnection&)> onDone)
    : m_socket(std::move(socket))
    , m_watchers(watchers)
    , m_answers(answers)
    , m_onDone(std::move(onDone))
{
}

ControlConnection::~ControlConnection()
{
    closeGracefully();
}

void ControlConnection::start()
{
    m_readWatcher = m_watchers.watchReadable(m_socket.get(), [this] { onReadable(); });
    m_readWatcher->setEnabled(true);
}

void ControlConnection::answerWithout(ControlProblem problem)
{
    respond(m_answers.problem(problem));
}

void ControlConnection::abandon(ControlProblem problem)
{
    if (m_state == State::Reading) {
        m_answer = m_answers.problem(problem);
        m_sent = 0;
    }
    // Whatever of the answer the socket takes now; the rest is lost with the connection.
    writePending();
    m_state = State::Done;
    closeGracefully();
}

void ControlConnection::onReadable()
{
    if (m_state != State::Reading)
        return;
    char buffer[kMaxLineBytes];
    sockets::IoResult got = sockets::receiveBytes(m_socket.get(), buffer, kMaxLineBytes - m_request.size());
    switch (got.outcome) {
    case sockets::IoOutcome::WouldBlock:
        return;
    case sockets::IoOutcome::Failed:
        finish();
        return;
    case sockets::IoOutcome::Ended:
        // A peer that only looked whether somebody listens goes without a word.
        if (m_request.empty())
            finish();
        else
            respond(m_answers.problem(ControlProblem::Unterminated));
        return;
    case sockets::IoOutcome::Transferred:
        break;
    }
    m_request.append(buffer, got.bytes);
    size_t end = m_request.find(kLineEnd);
    if (end != std::string::npos) {
        m_state = State::Running;
        m_readWatcher->setEnabled(false);
        // The room's handlers run inside this call.
        std::string answer = m_answers.request(std::string_view(m_request).substr(0, end));
        respond(std::move(answer));
        return;
    }
    if (m_request.size() >= kMaxLineBytes)
        respond(m_answers.problem(ControlProblem::TooLong));
}

void ControlConnection::respond(std::string answer)
{
    m_state = State::Writing;
    if (m_readWatcher)
        m_readWatcher->setEnabled(false);
    m_answer = std::move(answer);
    m_sent = 0;
    if (!writePending() || m_sent == m_answer.size()) {
        finish();
        return;
    }
    m_writeWatcher = m_watchers.watchWritable(m_socket.get(), [this] { onWritable(); });
    m_writeWatcher->setEnabled(true);
}

void ControlConnection::onWritable()
{
    if (m_state != State::Writing)
        return;
    if (!writePending() || m_sent == m_answer.size())
        finish();
}

bool ControlConnection::writePending()
{
    while (m_sent < m_answer.size()) {
        sockets::IoResult put = sockets::sendBytes(m_socket.get(), m_answer.data() + m_sent, m_answer.size() - m_sent);
        if (put.outcome == sockets::IoOutcome::WouldBlock)
            return true;
        if (put.outcome != sockets::IoOutcome::Transferred)
            return false;
        m_sent += put.bytes;
    }
    return true;
}

// Last statement of every path that ends the connection: the owner takes it away here.
void ControlConnection::finish()
{
    m_state = State::Done;
    closeGracefully();
    m_onDone(*this);
}

// The watchers stay (a watcher is not destroyed inside its own callback) but never fire again.
void ControlConnection::closeGracefully()
{
    if (m_readWatcher)
        m_readWatcher->setEnabled(false);
    if (m_writeWatcher)
        m_writeWatcher->setEnabled(false);
    if (!m_socket)
        return;
    sockets::discardInput(m_socket.get(), kDiscardLimit);
    m_socket.reset();
}
