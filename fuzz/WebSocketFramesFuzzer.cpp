// Fuzz target for the frame decoder. Any bytes, cut anywhere, must decode without a fault to
// the same messages and the same failure as when read whole; no message passes its limit; a
// text message is UTF-8; and every message, framed again as a client would, decodes to itself.
#include "PiecedInput.h"

#include "web/Utf8.h"
#include "web/WebSocketFrames.h"

#include <string>
#include <vector>

namespace {

// Frames are read in pieces of up to 200 bytes.
constexpr size_t kMaxPiece = 200;

using namespace websocket;

struct Decoded {
    uint16_t failure = close_code::kNone;
    std::vector<Message> messages;
};

Decoded decodeInPieces(std::string_view bytes, size_t piece)
{
    FrameDecoder decoder;
    Decoded result;
    for (size_t i = 0; i < bytes.size() && result.failure == close_code::kNone; i += piece)
        result.failure = decoder.decode(bytes.substr(i, piece), result.messages);
    return result;
}

// A masked client frame with a fixed mask.
std::string clientFrame(Opcode opcode, std::string_view payload)
{
    std::string frame;
    appendFrame(frame, opcode, payload);
    size_t header = frame.size() - payload.size();
    frame[1] = static_cast<char>(frame[1] | 0x80);
    const char mask[4] = { 1, 2, 3, 4 };
    std::string masked = frame.substr(0, header) + std::string(mask, 4);
    for (size_t i = 0; i < payload.size(); ++i)
        masked += static_cast<char>(payload[i] ^ mask[i % 4]);
    return masked;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const PiecedInput input = takePiecedInput(data, size, kMaxPiece);
    const auto [whole, cut] = input.readWholeAndCut(decodeInPieces);
    FUZZ_CHECK(whole.failure == cut.failure && whole.messages.size() == cut.messages.size(), input.print());
    for (size_t i = 0; i < whole.messages.size(); ++i) {
        const Message& message = whole.messages[i];
        FUZZ_CHECK(message.opcode == cut.messages[i].opcode && message.payload == cut.messages[i].payload, input.print());
        FUZZ_CHECK(message.payload.size() <= FrameDecoder::kMaxMessageBytes, input.print());
        FUZZ_CHECK(message.opcode != Opcode::Text || isValidUtf8(message.payload), fuzzPrintBytes("payload", message.payload));
        Decoded again = decodeInPieces(clientFrame(message.opcode, message.payload), 7);
        FUZZ_CHECK(again.failure == close_code::kNone && again.messages.size() == 1 && again.messages[0].payload == message.payload, fuzzPrintBytes("payload", message.payload));
    }
    return 0;
}
