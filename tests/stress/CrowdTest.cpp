// A crowded room: 300 clients connected at once, each sending its lines, and every client
// receiving every line of every sender intact and in that sender's order.
#include "StressRoom.h"

#include <charconv>

namespace {

constexpr int kClients = 300;
constexpr int kLinesEach = 3;

// "<sender:seq> ..." names its sender and its place among that sender's lines.
std::string crowdLine(int sender, int seq)
{
    return "<" + std::to_string(sender) + ":" + std::to_string(seq) + "> a line from the crowd\r\n";
}

// Splits a client's stream into the crowd's lines; false, with the reason, at the first byte
// that belongs to no whole line.
bool parseCrowdLines(std::string_view stream, std::vector<std::pair<int, int>>& lines, std::string& why)
{
    while (!stream.empty()) {
        int sender = -1, seq = -1;
        const char* colon = nullptr;
        if (stream.front() == '<') {
            auto first = std::from_chars(stream.data() + 1, stream.data() + stream.size(), sender);
            if (first.ec == std::errc() && first.ptr < stream.data() + stream.size() && *first.ptr == ':') {
                colon = first.ptr;
                std::from_chars(colon + 1, stream.data() + stream.size(), seq);
            }
        }
        std::string expected = colon ? crowdLine(sender, seq) : std::string();
        if (!colon || sender < 0 || sender >= kClients || seq < 0 || seq >= kLinesEach
            || stream.substr(0, expected.size()) != expected) {
            why = "not a whole line at \"" + std::string(stream.substr(0, 40)) + "\"";
            return false;
        }
        lines.emplace_back(sender, seq);
        stream.remove_prefix(expected.size());
    }
    return true;
}

class Crowd : public StressRoom { };

TEST_F(Crowd, EveryClientGetsEveryLineInOrder)
{
    startServer();
    std::vector<LoopbackClient*> crowd = connectClients(kClients);
    syncByPassingClient(false);

    // Every client sends its lines in turn, without waiting for any relay in between.
    size_t streamSize = 0;
    for (int seq = 0; seq < kLinesEach; ++seq) {
        for (int sender = 0; sender < kClients; ++sender) {
            std::string line = crowdLine(sender, seq);
            crowd[size_t(sender)]->send(line);
            streamSize += line.size();
        }
    }

    for (LoopbackClient* client : crowd) {
        SCOPED_TRACE("received by " + client->address());
        std::string stream = client->readExactly(streamSize, 60000);
        ASSERT_EQ(stream.size(), streamSize);
        std::vector<std::pair<int, int>> lines;
        std::string why;
        ASSERT_TRUE(parseCrowdLines(stream, lines, why)) << why;
        std::vector<int> nextSeq(kClients, 0);
        for (auto [sender, seq] : lines) {
            ASSERT_EQ(seq, nextSeq[size_t(sender)]) << "line " << seq << " of client " << sender << " out of order";
            ++nextSeq[size_t(sender)];
        }
        for (int sender = 0; sender < kClients; ++sender)
            ASSERT_EQ(nextSeq[size_t(sender)], kLinesEach) << "lines of client " << sender;
    }
    // Nothing else came: the next bytes everybody reads are the probe's.
    syncByProbe(*crowd.front());
}

} // namespace
