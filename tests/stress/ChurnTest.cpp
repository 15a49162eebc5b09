// Connection churn: thousands of clients come, say one line, and go, several at a time. Each
// visit must be relayed and announced, and afterwards the server holds exactly the
// descriptors and about the memory it held before: nothing of a gone client stays behind.
#include "BackgroundReader.h"
#include "StressRoom.h"

#include <atomic>
#include <charconv>
#include <mutex>
#include <thread>

namespace {

constexpr int kWarmUpVisits = 300;
constexpr int kVisits = 5000;
constexpr int kAtOnce = 8;
// Freed memory need not go back to the system at once, and the allocator's caches settle at
// their own size; a gone client's leftovers would add up to far more over the visits.
constexpr size_t kResidentSlackKiB = kSanitizedBuild ? 6 * 1024 : 3 * 1024;

std::string visitLine(int visit)
{
    return "<visit " + std::to_string(visit) + ">";
}

// What the observer hears: the visitors' lines and their leave notices (after data, so in
// continued form), counted as they come.
class VisitCounter {
public:
    // False at the first byte that starts neither.
    bool feed(std::string_view bytes)
    {
        static constexpr std::string_view kLinePrefix = "<visit ";
        // A leave notice up to the rest of the leaver's address 127.x.y.z; kLeaveBodyEnd ends it.
        static const std::string kLeavePrefix = continuedForm(kAdministrator, "127.");
        m_buffer.append(bytes);
        std::string_view rest(m_buffer);
        for (;;) {
            if (rest.starts_with(kLinePrefix)) {
                size_t end = rest.find('>');
                if (end == std::string_view::npos) {
                    if (rest.size() > 20)
                        return fail(rest);
                    break;
                }
                if (!isNumber(rest.substr(kLinePrefix.size(), end - kLinePrefix.size())))
                    return fail(rest);
                ++m_lines;
                rest.remove_prefix(end + 1);
            } else if (rest.starts_with(kLeavePrefix)) {
                size_t end = rest.find(kLeaveBodyEnd, kLeavePrefix.size());
                if (end == std::string_view::npos) {
                    if (rest.size() > kLeavePrefix.size() + 17 + kLeaveBodyEnd.size())
                        return fail(rest);
                    break;
                }
                if (!isLoopbackAddress(rest.substr(kLeavePrefix.size(), end - kLeavePrefix.size())))
                    return fail(rest);
                ++m_leaves;
                rest.remove_prefix(end + kLeaveBodyEnd.size());
            } else if (kLinePrefix.starts_with(rest) || kLeavePrefix.starts_with(rest)) {
                break; // nothing, or the beginning of something still to come
            } else {
                return fail(rest);
            }
        }
        m_buffer.erase(0, m_buffer.size() - rest.size());
        return true;
    }

    int lines() const { return m_lines; }
    int leaves() const { return m_leaves; }
    std::string failure() const { return m_failed ? m_failure : std::string(); }

private:
    static bool isNumber(std::string_view digits)
    {
        unsigned value = 0;
        auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return !digits.empty() && parsed.ec == std::errc() && parsed.ptr == digits.data() + digits.size();
    }

    // "x.y.z:port", the rest of a 127.x.y.z address.
    static bool isLoopbackAddress(std::string_view rest)
    {
        size_t colon = rest.find(':');
        if (colon == std::string_view::npos || !isNumber(rest.substr(colon + 1)))
            return false;
        std::string_view host = rest.substr(0, colon);
        for (int part = 0; part < 3; ++part) {
            size_t dot = part < 2 ? host.find('.') : host.size();
            if (dot == std::string_view::npos || !isNumber(host.substr(0, dot)))
                return false;
            host.remove_prefix(std::min(dot + 1, host.size()));
        }
        return host.empty();
    }

    bool fail(std::string_view at)
    {
        m_failure = "unexpected bytes: \"" + std::string(at.substr(0, 60)) + "\"";
        m_failed = true;
        return false;
    }

    std::string m_buffer;
    std::atomic<int> m_lines { 0 };
    std::atomic<int> m_leaves { 0 };
    // Written once, by the reading thread, before the flag.
    std::string m_failure;
    std::atomic<bool> m_failed { false };
};

class Churn : public StressRoom {
protected:
    // Visits `first` .. `first + count - 1`, kAtOnce at a time. A visitor waits for its own
    // line to come back, so it has surely been in the room, then leaves by half-closing and
    // reads on until the server has closed its side: its leave has been handled before its
    // port can be handed out again. Having closed first, the visitor's side keeps its port in
    // TIME_WAIT for a minute, so each visiting thread connects from a loopback address of its
    // own and the ports of 127.0.0.1 stay free for everybody else.
    void visit(int first, int count)
    {
        std::atomic<int> next { first };
        std::atomic<int> failures { 0 };
        std::mutex firstFailureMutex;
        std::string firstFailure;
        auto failed = [&](const std::string& what) {
            std::lock_guard lock(firstFailureMutex);
            if (failures++ == 0)
                firstFailure = what;
        };
        std::vector<std::jthread> visitors;
        for (int i = 0; i < kAtOnce; ++i) {
            visitors.emplace_back([&, host = uint32_t(0x7f000101 + i)] {
                for (int v = next++; v < first + count && failures == 0; v = next++) {
                    try {
                        LoopbackClient visitor(ServerProcess::kPort, { .sourceHost = host });
                        std::string line = visitLine(v);
                        visitor.send(line);
                        std::string heard;
                        for (int reads = 0; heard.find(line) == std::string::npos && reads < 200; ++reads) {
                            std::string piece = visitor.readSome(100);
                            if (piece.empty() && visitor.hasEnded())
                                break;
                            heard += piece;
                        }
                        if (heard.find(line) == std::string::npos) {
                            failed(visitor.address() + " did not hear its line " + line + " back; heard \""
                                + heard.substr(0, 200) + "\"");
                            continue;
                        }
                        visitor.shutdownSending();
                        visitor.readToEnd();
                        if (!visitor.hasEnded())
                            failed(visitor.address() + " was not let go");
                    } catch (const std::exception& error) {
                        failed(std::string("visit ") + std::to_string(v) + ": " + error.what());
                    }
                }
            });
        }
        visitors.clear();
        ASSERT_EQ(failures, 0) << "the first: " << firstFailure;
    }

    // Waits until the observer has heard `lines` lines and `leaves` leave notices.
    static void awaitObserver(const VisitCounter& counter, int lines, int leaves)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((counter.lines() < lines || counter.leaves() < leaves) && counter.failure().empty()
            && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(counter.failure(), "");
        ASSERT_EQ(counter.lines(), lines);
        ASSERT_EQ(counter.leaves(), leaves);
    }
};

TEST_F(Churn, ThousandsOfVisitsLeaveNothingBehind)
{
    measureMemory();
    startServer();
    LoopbackClient& observer = connectClient();
    // Data first, so that every leave notice has the continued form.
    observer.send(visitLine(0));
    VisitCounter counter;
    BackgroundReader reading(observer, [&](std::string_view piece) { return counter.feed(piece); }, std::chrono::minutes(4));

    // The first visits bring the server's caches and the allocator to their working size.
    ASSERT_NO_FATAL_FAILURE(visit(1, kWarmUpVisits));
    ASSERT_NO_FATAL_FAILURE(awaitObserver(counter, 1 + kWarmUpVisits, kWarmUpVisits));
    size_t descriptorsBefore = openDescriptorCount(serverPid());
    std::string descriptorsBeforeText = describeDescriptors(serverPid());
    size_t residentBefore = residentKiB(serverPid());

    ASSERT_NO_FATAL_FAILURE(visit(1 + kWarmUpVisits, kVisits));
    ASSERT_NO_FATAL_FAILURE(awaitObserver(counter, 1 + kWarmUpVisits + kVisits, kWarmUpVisits + kVisits));
    EXPECT_EQ(openDescriptorCount(serverPid()), descriptorsBefore)
        << "before:\n" << descriptorsBeforeText << "after:\n" << describeDescriptors(serverPid());
    size_t residentAfter = residentKiB(serverPid());
    EXPECT_LE(residentAfter, residentBefore + kResidentSlackKiB)
        << "resident KiB before " << residentBefore << ", after " << residentAfter;

    // The one who stayed heard everything and nothing more.
    reading.stop();
    syncByProbe(observer);
}

} // namespace
