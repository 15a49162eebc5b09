// Fuzz target for the word-library parser appendWordLibrary. Arbitrary library texts must
// parse exactly as the reference parse (split at CR LF CR LF, each entry split at CR LF into
// at most two parts, entries of exactly two parts kept), appending to what the arrays held,
// with keywords and replies in step and never holding a line end. Libraries written from a
// list of keyword/reply pairs must give that list back.
#include "FuzzCheck.h"
#include "ReferenceText.h"

#include "app/Robot.h"
#include "runtime/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void printList(const char* name, const std::vector<std::string>& items)
{
    std::fprintf(stderr, "  %s: %zu elements\n", name, items.size());
    for (const std::string& item : items)
        fuzzPrintBytes("    element", item);
}

// True when walking the piece by characters ends exactly at its end: no lead byte is left
// without its second byte, so the piece cannot swallow the line end written after it.
bool endsOnCharacter(const std::string& piece)
{
    size_t p = 0;
    while (p < piece.size())
        p += reference::isLead(piece[p]) ? 2 : 1;
    return p == piece.size();
}

// Makes a fuzzed piece fit for one line of a library: no NUL, no line end at a character
// start, complete characters, and not empty where `emptyStandIn` is given.
std::string asLine(std::string piece, const char* emptyStandIn)
{
    for (char& c : piece)
        if (c == '\0')
            c = 'N';
    while (reference::find(piece, "\r\n") != -1)
        piece = reference::replace(piece, "\r\n", "\n");
    if (!endsOnCharacter(piece))
        piece += 'L';
    if (piece.empty() && emptyStandIn)
        piece = emptyStandIn;
    return piece;
}

void checkRaw(const std::string& library)
{
    const std::vector<std::string> before = { "earlier key", "" };
    TextArray keys(before);
    TextArray replies(std::vector<std::string> { "earlier reply", "second reply" });
    appendWordLibrary(library, keys, replies);

    std::vector<std::string> expectedKeys = before;
    std::vector<std::string> expectedReplies = { "earlier reply", "second reply" };
    reference::wordLibrary(library, expectedKeys, expectedReplies);

    const auto context = [&] { fuzzPrintBytes("library", library); };
    FUZZ_CHECK(keys.elementCount() == replies.elementCount(), context(), printList("keys", keys.items()), printList("replies", replies.items()));
    FUZZ_CHECK(keys.items() == expectedKeys, context(), printList("keys", keys.items()), printList("reference", expectedKeys));
    FUZZ_CHECK(replies.items() == expectedReplies, context(), printList("replies", replies.items()), printList("reference", expectedReplies));

    size_t entries = reference::split(library, "\r\n\r\n", std::nullopt).size();
    FUZZ_CHECK(static_cast<size_t>(keys.elementCount()) <= before.size() + entries, context(), printList("keys", keys.items()));
    for (int32_t i = 1; i <= keys.elementCount(); ++i) {
        const std::string& key = keys.elementAt(i);
        const std::string& reply = replies.elementAt(i);
        FUZZ_CHECK(key.find('\0') == std::string::npos && reply.find('\0') == std::string::npos, context(), fuzzPrintBytes("key", key),
            fuzzPrintBytes("reply", reply));
        FUZZ_CHECK(findText(key, "\r\n") == -1 && findText(reply, "\r\n") == -1, context(), fuzzPrintBytes("key", key), fuzzPrintBytes("reply", reply));
    }
}

void checkRoundTrip(FuzzedDataProvider& input)
{
    uint8_t shape = input.ConsumeIntegral<uint8_t>();
    size_t count = input.ConsumeIntegralInRange<size_t>(0, 8);
    std::vector<std::string> pairKeys;
    std::vector<std::string> pairReplies;
    std::string library;
    for (size_t i = 0; i < count; ++i) {
        std::string key = asLine(input.ConsumeRandomLengthString(16), nullptr);
        std::string reply = asLine(input.ConsumeRandomLengthString(16), "R");
        if (i > 0)
            library += "\r\n\r\n";
        library += key + "\r\n" + reply;
        if ((shape >> (i % 8)) & 1)
            library += "\r\n" + asLine(input.ConsumeRandomLengthString(16), "E"); // ignored third line
        pairKeys.push_back(key);
        pairReplies.push_back(reply);
    }
    if (count > 0 && (shape & 0x80))
        library += "\r\n\r\n"; // an empty remainder adds no entry

    TextArray keys;
    TextArray replies;
    appendWordLibrary(library, keys, replies);
    FUZZ_CHECK(keys.items() == pairKeys && replies.items() == pairReplies, fuzzPrintBytes("library", library), printList("keys", keys.items()),
        printList("replies", replies.items()), printList("written keys", pairKeys), printList("written replies", pairReplies));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        checkRoundTrip(input);
    else
        checkRaw(input.ConsumeRemainingBytesAsString());
    return 0;
}
