// Fuzz target for the request head reader and the answers. Any bytes, cut anywhere, must be
// read without a fault; the result must not depend on where the reads cut them; a head read
// whole never passes the limit; a complete head's field names are lower-case tokens; and every
// answer is a well-formed status line whose only upgrade is to the request at /ws.
#include "PiecedInput.h"

#include "web/HttpAnswers.h"
#include "web/HttpRequest.h"
#include "web/RequestTarget.h"

#include <string>

namespace {

// A head is read in pieces of up to 64 bytes.
constexpr size_t kMaxPiece = 64;

struct Reading {
    HttpRequestReader::State state;
    int failure = 0;
    HttpRequest request;
    std::string rest;
};

Reading readInPieces(std::string_view bytes, size_t piece)
{
    HttpRequestReader reader;
    for (size_t i = 0; i < bytes.size(); i += piece)
        reader.feed(bytes.substr(i, piece));
    Reading reading { reader.state(), reader.state() == HttpRequestReader::State::Failed ? reader.failure().code : 0, reader.request(), reader.takeRest() };
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const PiecedInput input = takePiecedInput(data, size, kMaxPiece);
    const auto [whole, cut] = input.readWholeAndCut(readInPieces);
    FUZZ_CHECK(whole.state == cut.state && whole.failure == cut.failure, input.print());
    if (whole.state != HttpRequestReader::State::Complete)
        return 0;
    FUZZ_CHECK(whole.request.target == cut.request.target && whole.request.fields == cut.request.fields && whole.rest == cut.rest, input.print());
    FUZZ_CHECK(input.bytes.size() - whole.rest.size() <= HttpRequestReader::kMaxHeadBytes + input.bytes.find_first_not_of("\r\n"), input.print());
    for (const auto& [name, value] : whole.request.fields) {
        for (char c : name)
            FUZZ_CHECK(c > ' ' && c != ':' && !(c >= 'A' && c <= 'Z'), fuzzPrintBytes("name", name));
    }

    const WebSite site { WebPage { "<p></p>", "default-src 'none'" }, RoomHosts("room", { "chat.example" }), "http://10.0.0.5:19731/" };
    HttpAnswer answer = answerRequest(whole.request, site);
    FUZZ_CHECK(answer.bytes.starts_with("HTTP/1.1 " + std::to_string(answer.status.code) + " "), fuzzPrintBytes("answer", answer.bytes));
    FUZZ_CHECK(answer.bytes.find("\r\n\r\n") != std::string::npos, fuzzPrintBytes("answer", answer.bytes));
    std::optional<TargetParts> target = splitTarget(whole.request.target);
    FUZZ_CHECK(!answer.upgraded || (answer.status.code == 101 && target && target->path.starts_with("/ws")), input.print());
    return 0;
}
