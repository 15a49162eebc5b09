// The rate-limited failure report (see FailureReport.h).
#include "app/FailureReport.h"

#include <cstdio>
#include <utility>

FailureReport::FailureReport(std::string subject, Clock clock, Sink sink)
    : m_subject(std::move(subject))
    , m_clock(std::move(clock))
    , m_sink(std::move(sink))
{
}

FailureReport::~FailureReport()
{
    if (m_untold > 0)
        tell(m_clock());
}

void FailureReport::note(uint64_t failures)
{
    if (failures == 0)
        return;
    m_untold += failures;
    auto now = m_clock();
    if (!m_lastReport || now - *m_lastReport >= kInterval)
        tell(now);
}

void FailureReport::writeToStandardError(const std::string& line)
{
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void FailureReport::tell(std::chrono::steady_clock::time_point now)
{
    const char* since = m_lastReport ? "since the last report" : "since the start";
    const char* noun = m_untold == 1 ? "failure" : "failures";
    m_sink("chatroom-server: " + m_subject + " (" + std::to_string(m_untold) + " " + noun + " " + since + ")\n");
    m_untold = 0;
    m_lastReport = now;
}
