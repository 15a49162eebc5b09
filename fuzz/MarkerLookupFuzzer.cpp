// Fuzz target for the delivery-marker lookup: EditBoxModel answers find() from an index of
// the content's marker lines or of earlier finds, and neither may ever give a stale answer.
// The input is a sequence of operations on one model (replace the content, append to it, cut
// it short, add and remove the markers of address-like texts as the room does, search for new
// texts, for texts searched before and for pieces of the content); after every step the
// content must be what was written, and every find must equal findText on that content.
#include "FuzzCheck.h"
#include "ReferenceText.h"

#include "console/EditBoxModel.h"
#include "runtime/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kMaxOperations = 96;
constexpr size_t kMaxNeedles = 8;

enum class Operation : uint8_t {
    SetContent,
    Append,
    AppendMarker,
    CutShort,
    FindNew,
    FindAgain,
    FindPiece,
    AppendAddressMarker,
    RemoveAddressMarkers,
    kMaxValue = RemoveAddressMarkers,
};

// The bytes of client addresses, so that the content stays made of marker lines and one
// address often ends another.
constexpr std::string_view kAddressBytes = "0123456789.:";
constexpr size_t kMaxAddressBytes = 24;

std::string addressFrom(FuzzedDataProvider& input)
{
    std::string address = input.ConsumeRandomLengthString(kMaxAddressBytes);
    for (char& byte : address)
        byte = kAddressBytes[static_cast<unsigned char>(byte) % kAddressBytes.size()];
    return address;
}

struct Session {
    EditBoxModel model;
    std::string expected; // the content as written, kept by hand
    std::vector<std::string> needles;
    std::vector<std::string> log;

    void remember(std::string needle)
    {
        if (needles.size() < kMaxNeedles)
            needles.push_back(std::move(needle));
        else
            needles[needles.size() - 1] = std::move(needle);
    }

    void printLog() const
    {
        std::fprintf(stderr, "  operations:\n");
        for (const std::string& line : log)
            std::fprintf(stderr, "    %s\n", line.c_str());
        fuzzPrintBytes("content", model.content());
    }

    void find(const std::string& needle)
    {
        int32_t found = model.find(needle);
        int32_t plain = findText(model.content(), needle);
        int32_t expectedFound = reference::find(expected, needle);
        log.push_back("find -> " + std::to_string(found));
        FUZZ_CHECK(found == plain && plain == expectedFound, printLog(), fuzzPrintBytes("needle", needle), fuzzPrintNumber("find", found),
            fuzzPrintNumber("findText", plain), fuzzPrintNumber("reference", expectedFound));
    }
};

std::string hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
        out += ' ';
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Session session;
    for (int i = 0; i < kMaxOperations && input.remaining_bytes() > 0; ++i) {
        switch (input.ConsumeEnum<Operation>()) {
        case Operation::SetContent: {
            std::string text = input.ConsumeRandomLengthString(48);
            session.model.setContent(text);
            session.expected = reference::text(text);
            session.log.push_back("setContent " + hex(text));
            break;
        }
        case Operation::Append: {
            std::string text = input.ConsumeRandomLengthString(48);
            session.model.append(text);
            session.expected += reference::text(text);
            session.log.push_back("append " + hex(text));
            break;
        }
        case Operation::AppendMarker: {
            // The shape the relay writes: a client address, "=1", CR LF.
            std::string address = session.needles.empty() ? input.ConsumeRandomLengthString(16)
                                                           : session.needles[input.ConsumeIntegral<uint8_t>() % session.needles.size()];
            std::string line = reference::text(address) + "=1\r\n";
            session.model.append(line);
            session.expected += line;
            session.log.push_back("append " + hex(line));
            break;
        }
        case Operation::CutShort: {
            std::string text = session.model.content();
            text.resize(input.ConsumeIntegralInRange<size_t>(0, text.size()));
            session.model.setContent(text);
            session.expected = text;
            session.log.push_back("setContent (cut) " + hex(text));
            break;
        }
        case Operation::FindNew: {
            std::string needle = input.ConsumeRandomLengthString(12);
            session.log.push_back("needle " + hex(needle));
            session.find(needle);
            session.remember(needle);
            break;
        }
        case Operation::FindAgain: {
            if (session.needles.empty())
                break;
            const std::string needle = session.needles[input.ConsumeIntegral<uint8_t>() % session.needles.size()];
            session.log.push_back("needle again " + hex(needle));
            session.find(needle);
            break;
        }
        case Operation::FindPiece: {
            const std::string& content = session.model.content();
            size_t offset = content.empty() ? 0 : input.ConsumeIntegral<uint16_t>() % content.size();
            std::string needle = content.substr(offset, input.ConsumeIntegralInRange<size_t>(1, 8));
            if (input.ConsumeBool())
                needle += "=1";
            session.log.push_back("needle piece " + hex(needle));
            session.find(needle);
            session.remember(needle);
            break;
        }
        case Operation::AppendAddressMarker: {
            std::string address = addressFrom(input);
            std::string line = address + "=1\r\n";
            session.model.append(line);
            session.expected += line;
            session.log.push_back("append " + hex(line));
            session.find(address + "=1");
            session.remember(address + "=1");
            break;
        }
        case Operation::RemoveAddressMarkers: {
            // What the room does when a client leaves: every marker line of its address goes.
            std::string address = addressFrom(input);
            std::string text = reference::replace(session.expected, address + "=1\r\n", "");
            session.model.setContent(text);
            session.expected = text;
            session.log.push_back("remove markers of " + hex(address));
            session.find(address + "=1");
            break;
        }
        }
        FUZZ_CHECK(session.model.content() == session.expected, session.printLog(), fuzzPrintBytes("expected", session.expected));
    }
    return 0;
}
