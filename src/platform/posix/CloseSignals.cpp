// Close requests by signal through a self-pipe (see CloseSignals.h).
#include "platform/posix/CloseSignals.h"

#include "platform/posix/PosixSocketHandle.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kCloseSignals[] = { SIGINT, SIGTERM, SIGHUP };
constexpr int kNoDescriptor = -1;

// The pipe is process-wide because the signal handler can reach nothing else.
int s_pipe[2] = { kNoDescriptor, kNoDescriptor };

// Signal handlers only write one byte; the window thread reads it and acts.
void onCloseSignal(int signalNumber)
{
    int saved = errno;
    // A second request of the same kind is not asked nicely again: if the dissolution is
    // stuck, a second Ctrl+C ends the program at once.
    signal(signalNumber, SIG_DFL);
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(s_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

CloseSignals::CloseSignals(ReadinessWatcherFactory& watchers, std::function<void()> onRequest)
    : m_onRequest(std::move(onRequest))
{
    // Sends to clients say MSG_NOSIGNAL; this covers every other write, such as a line to a
    // standard error whose reader has gone, which must not end the room.
    signal(SIGPIPE, SIG_IGN);
    if (pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_watcher = watchers.watchReadable(toSocketHandle(s_pipe[0]), [this] { drainAndNotify(); });
    m_watcher->setEnabled(true);
    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kCloseSignals)
        sigaction(signalNumber, &action, nullptr);
}

CloseSignals::~CloseSignals()
{
    m_watcher.reset();
    if (s_pipe[0] == kNoDescriptor)
        return;
    for (int signalNumber : kCloseSignals)
        signal(signalNumber, SIG_DFL);
    for (int& end : s_pipe) {
        close(end);
        end = kNoDescriptor;
    }
}

void CloseSignals::drainAndNotify()
{
    // Only a byte in the pipe is a request: a readiness report that finds it empty (one
    // already served inside a nested loop) asks for nothing.
    char bytes[64];
    bool requested = false;
    while (read(s_pipe[0], bytes, sizeof bytes) > 0)
        requested = true;
    if (requested && m_onRequest)
        m_onRequest();
}

void raiseDescriptorLimit()
{
    rlimit descriptors {};
    if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur < descriptors.rlim_max) {
        descriptors.rlim_cur = descriptors.rlim_max;
        setrlimit(RLIMIT_NOFILE, &descriptors);
    }
}
