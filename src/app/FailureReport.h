// A report of recurring failures on standard error that cannot flood it: the first failure is
// told at once, later ones are counted and told at most once an interval (a minute) with how
// many there were since the last report, and what is still untold when the report ends is told
// then. The clock and the output can be replaced, so that tests need not wait a minute.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class FailureReport {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Sink = std::function<void(const std::string& line)>;

    static constexpr std::chrono::minutes kInterval { 1 };

    // `subject` says what failed and what that cost; each line reads
    // "chatroom-server: <subject> (<count> failures since the last report)".
    explicit FailureReport(std::string subject, Clock clock = std::chrono::steady_clock::now, Sink sink = writeToStandardError);
    ~FailureReport();
    FailureReport(const FailureReport&) = delete;
    FailureReport& operator=(const FailureReport&) = delete;

    // Counts `failures` more; tells them and the untold ones unless the last report is more
    // recent than the interval.
    void note(uint64_t failures);

    static void writeToStandardError(const std::string& line);

private:
    void tell(std::chrono::steady_clock::time_point now);

    std::string m_subject;
    Clock m_clock;
    Sink m_sink;
    uint64_t m_untold = 0;
    std::optional<std::chrono::steady_clock::time_point> m_lastReport;
};
