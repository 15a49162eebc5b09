// Bytes that are no text: NUL, lone lead bytes of two-byte characters, runs of 0xFF, a line of
// 1 MiB without CR LF, CRs without LF. The relay passes them on unchanged, the robot (on, with
// the test library) looks at them without harm, and the server ends cleanly afterwards, with
// nothing for the sanitizers to report.
#include "BytePattern.h"
#include "StressRoom.h"

namespace {

struct BadBytes {
    const char* name;
    std::string bytes;
};

std::string repeated(std::string_view unit, size_t times)
{
    std::string bytes;
    for (size_t i = 0; i < times; ++i)
        bytes += unit;
    return bytes;
}

// Every byte but CR and LF, and none that begins a keyword of the test library, so that the
// robot finds nothing to answer.
std::string lineAlphabet(bool withNul)
{
    std::string alphabet;
    for (int byte = withNul ? 0 : 1; byte < 256; ++byte) {
        if (byte != '\r' && byte != '\n' && byte != 0xBA && byte != 0xC4 && byte != 0xCC)
            alphabet += char(byte);
    }
    return alphabet;
}

std::vector<BadBytes> badBytes()
{
    constexpr size_t kMiB = 1024 * 1024;
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != 0xBA && byte != 0xC4 && byte != 0xCC)
            everyByte += char(byte);
    }
    return {
        { "one NUL", bytesOf("\0") },
        { "NULs only", std::string(4096, '\0') },
        { "NULs inside a line", bytesOf("ab\0cd\0\0ef\r\n\0") },
        { "a lone lead byte", "\x81" },
        { "a lead byte at the end", "text\x81" },
        { "a lead byte before CR LF", "text\x81\r\n\x81" },
        { "a lead byte before NUL", bytesOf("\xfe\0\xfe") },
        { "lone high bytes", "a\x80 b\xff c\xfe d\xa1" },
        { "a run of 0xFF", std::string(64 * 1024, '\xff') },
        { "0xFF lines", repeated("\xff\xff\xff\r\n", 1000) + "\xff" },
        { "a CR without LF", "first\rsecond" },
        { "CRs only", std::string(1000, '\r') },
        { "an LF without CR", "first\nsecond\n" },
        { "CR CR LF", "a\r\r\nb\r\r\n" },
        { "a vote with a lead byte after it", "@关闭\x81" },
        { "a vote after a CR", "\r@关闭" },
        { "every byte", everyByte },
        { "a line of 1 MiB", BytePattern(lineAlphabet(false), 7).slice(0, kMiB) },
        { "a line of 1 MiB with NULs", BytePattern(lineAlphabet(true), 11).slice(0, kMiB) },
        { "1 MiB of 0xFF", std::string(kMiB, '\xff') },
    };
}

class BadBytesRelay : public StressRoom { };

TEST_F(BadBytesRelay, PassedOnUnchanged)
{
    startServer();
    std::vector<LoopbackClient*> room = connectClients(3);
    syncByProbe(*room.front());

    size_t turn = 0;
    for (const BadBytes& bad : badBytes()) {
        SCOPED_TRACE(bad.name);
        LoopbackClient& sender = *room[turn++ % room.size()];
        sender.send(bad.bytes);
        expectAllReceiveAtOnce(bad.bytes);
        // Nothing was added: the next bytes are the probe's.
        syncByProbe(sender);
    }

    // The room goes on as usual: a leave is told in the form that follows the latest data.
    std::string address = room.back()->address();
    room.back()->close();
    expectAllReceive(leaveNotice(true, address));
    EXPECT_EQ(server().stop(), 0) << server().standardError();
}

} // namespace
