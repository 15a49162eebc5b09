// The failure report: the first failure is told at once, later ones at most once a minute
// with how many there were since the last report, and the untold rest when the report ends.
#include "app/FailureReport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

std::string line(int count, const char* since)
{
    return "chatroom-server: the store failed (" + std::to_string(count) + (count == 1 ? " failure " : " failures ") + since + ")\n";
}

TEST(FailureReport, TellsAtMostOnceAMinuteWithTheCountSinceTheLastReport)
{
    struct Step {
        int atSecond;
        uint64_t failures;
        std::vector<std::string> toldNow;
    };
    const std::vector<Step> steps = {
        { 0, 0, {} },
        { 5, 1, { line(1, "since the start") } },
        { 6, 2, {} },
        { 64, 1, {} }, // 59 s after the last report
        { 65, 1, { line(4, "since the last report") } },
        { 200, 0, {} }, // nothing failed: nothing to tell
        { 201, 3, { line(3, "since the last report") } },
        { 202, 5, {} },
    };
    std::chrono::steady_clock::time_point now;
    std::vector<std::string> told;
    {
        FailureReport report("the store failed", [&] { return now; }, [&](const std::string& text) { told.push_back(text); });
        for (const Step& step : steps) {
            SCOPED_TRACE(step.atSecond);
            now = std::chrono::steady_clock::time_point(std::chrono::seconds(step.atSecond));
            told.clear();
            report.note(step.failures);
            EXPECT_EQ(told, step.toldNow);
        }
        told.clear();
    }
    EXPECT_EQ(told, std::vector<std::string> { line(5, "since the last report") }) << "the untold failures at the end";
    {
        FailureReport report("the store failed", [&] { return now; }, [&](const std::string& text) { told.push_back(text); });
        report.note(1);
        told.clear();
    }
    EXPECT_TRUE(told.empty()) << "nothing untold, nothing to tell at the end";
}

} // namespace
