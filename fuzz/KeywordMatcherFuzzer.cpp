// Fuzz target for the robot's keyword index. For fuzzed keyword lists and lines, the index must
// give the answer of the plain search it replaces (each keyword tried with findText in turn)
// and of the reference search written straight from the rules: the first keyword in list order
// that occurs at a character boundary, an empty keyword occurring in every non-empty line.
// Keywords are often cut from the line itself, at any byte, so that matches (and matches that
// would start inside a character) are common; a small alphabet of lead bytes, possible second
// bytes, backslash and NUL makes two-byte characters overlap in every way.
#include "FuzzCheck.h"
#include "ReferenceText.h"

#include "app/KeywordMatcher.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxLine = 512;
constexpr size_t kMaxKeywords = 16;
constexpr size_t kMaxKeyword = 24;
constexpr char kSmallAlphabet[] = { 'a', 'b', '\x81', '\xB0', '\x40', '\x5C', '\0', '\xFF' };

std::string fuzzedText(FuzzedDataProvider& input, size_t maxLength, bool smallAlphabet)
{
    std::string text = input.ConsumeRandomLengthString(maxLength);
    if (smallAlphabet) {
        for (char& c : text)
            c = kSmallAlphabet[static_cast<unsigned char>(c) % sizeof kSmallAlphabet];
    }
    return text;
}

int32_t referenceFirst(const std::vector<std::string>& keywords, const std::string& line)
{
    for (size_t i = 0; i < keywords.size(); ++i) {
        if (reference::find(line, keywords[i]) != -1)
            return static_cast<int32_t>(i + 1);
    }
    return 0;
}

void printKeywords(const std::vector<std::string>& keywords)
{
    for (const std::string& keyword : keywords)
        fuzzPrintBytes("keyword", keyword);
}

void check(const KeywordMatcher& matcher, const TextArray& keywords, const std::string& line)
{
    int32_t indexed = matcher.firstMatch(line);
    int32_t plain = firstKeywordPlainly(keywords, line);
    int32_t expected = referenceFirst(keywords.items(), line);
    FUZZ_CHECK(plain == expected, fuzzPrintBytes("line", line), printKeywords(keywords.items()), fuzzPrintNumber("plain", plain),
        fuzzPrintNumber("reference", expected));
    FUZZ_CHECK(indexed == expected, fuzzPrintBytes("line", line), printKeywords(keywords.items()), fuzzPrintNumber("index", indexed),
        fuzzPrintNumber("reference", expected));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    bool smallAlphabet = input.ConsumeBool();
    std::string line = fuzzedText(input, kMaxLine, smallAlphabet);
    size_t count = input.ConsumeIntegralInRange<size_t>(0, kMaxKeywords);
    std::vector<std::string> list;
    for (size_t i = 0; i < count; ++i) {
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: { // a piece of the line, from any byte
            size_t start = input.ConsumeIntegralInRange<size_t>(0, line.size());
            size_t length = input.ConsumeIntegralInRange<size_t>(0, kMaxKeyword);
            list.push_back(line.substr(start, length));
            break;
        }
        case 1:
            list.emplace_back();
            break;
        default:
            list.push_back(fuzzedText(input, kMaxKeyword, smallAlphabet));
            break;
        }
    }
    TextArray keywords(list);
    KeywordMatcher matcher(keywords);
    FUZZ_CHECK(matcher.keywordCount() == keywords.elementCount(), printKeywords(list));
    check(matcher, keywords, line);
    // The same index, another line: nothing of one search stays for the next.
    check(matcher, keywords, fuzzedText(input, kMaxLine, smallAlphabet));
    return 0;
}
