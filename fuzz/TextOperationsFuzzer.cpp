// Differential fuzz target for findText, replaceText and splitText: every result must equal
// the plain reference's, and the three operations must agree with one another (a split
// joined back is the text with every separator deleted; a limited split is a prefix of the
// unlimited one).
#include "FuzzCheck.h"
#include "ReferenceText.h"

#include "runtime/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

void printCase(const std::string& text, const std::string& sought, const std::string& replacement, std::optional<int32_t> limit)
{
    fuzzPrintBytes("text", text);
    fuzzPrintBytes("sought", sought);
    fuzzPrintBytes("replacement", replacement);
    if (limit)
        fuzzPrintNumber("limit", *limit);
    else
        std::fprintf(stderr, "  limit: none\n");
}

void printParts(const char* name, const std::vector<std::string>& parts)
{
    std::fprintf(stderr, "  %s: %zu parts\n", name, parts.size());
    for (const std::string& part : parts)
        fuzzPrintBytes("    part", part);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    uint8_t flags = input.ConsumeIntegral<uint8_t>();
    std::optional<int32_t> limit;
    if (flags & 0x02)
        limit = (flags & 0x04) ? input.ConsumeIntegral<int32_t>() : input.ConsumeIntegralInRange<int32_t>(-2, 6);
    std::string sought = input.ConsumeRandomLengthString(24);
    std::string replacement = input.ConsumeRandomLengthString(24);
    size_t offset = input.ConsumeIntegral<uint16_t>();
    size_t length = input.ConsumeIntegralInRange<size_t>(0, 8);
    std::string text = input.ConsumeRemainingBytesAsString();
    // Most interesting searches look for something the text holds, starting anywhere in it,
    // the second byte of a character included.
    if ((flags & 0x01) && !text.empty())
        sought = text.substr(offset % text.size(), length);

    const auto context = [&] { printCase(text, sought, replacement, limit); };

    int32_t found = findText(text, sought);
    int32_t expectedFound = reference::find(text, sought);
    FUZZ_CHECK(found == expectedFound, context(), fuzzPrintNumber("findText", found), fuzzPrintNumber("reference", expectedFound));

    std::string replaced = replaceText(text, sought, replacement);
    std::string expectedReplaced = reference::replace(text, sought, replacement);
    FUZZ_CHECK(replaced == expectedReplaced, context(), fuzzPrintBytes("replaceText", replaced), fuzzPrintBytes("reference", expectedReplaced));

    std::vector<std::string> parts = splitText(text, sought).items();
    std::vector<std::string> expectedParts = reference::split(text, sought, std::nullopt);
    FUZZ_CHECK(parts == expectedParts, context(), printParts("splitText", parts), printParts("reference", expectedParts));

    std::optional<std::string_view> lastPart = lastSplitPart(text, sought);
    FUZZ_CHECK(lastPart.has_value() == !expectedParts.empty() && (!lastPart || std::string(*lastPart) == expectedParts.back()), context(),
        fuzzPrintBytes("lastSplitPart", lastPart ? std::string(*lastPart) : std::string("<none>")), printParts("reference", expectedParts));

    std::vector<std::string> limitedParts = splitText(text, sought, limit).items();
    std::vector<std::string> expectedLimited = reference::split(text, sought, limit);
    FUZZ_CHECK(limitedParts == expectedLimited, context(), printParts("splitText", limitedParts), printParts("reference", expectedLimited));

    // The operations against one another, independent of the reference.
    std::string t = reference::text(text);
    std::string s = reference::text(sought);
    if (found > 0)
        FUZZ_CHECK(t.compare(static_cast<size_t>(found - 1), s.size(), s) == 0, context(), fuzzPrintNumber("findText", found));
    if (found == -1)
        FUZZ_CHECK(replaced == t, context(), fuzzPrintBytes("replaceText", replaced));
    if (!s.empty()) {
        std::string joined;
        for (const std::string& part : parts)
            joined += part;
        std::string deleted = replaceText(text, sought, "");
        FUZZ_CHECK(joined == deleted, context(), fuzzPrintBytes("joined split", joined), fuzzPrintBytes("replaceText with nothing", deleted));
        // Parts are made only between separators found at character starts.
        FUZZ_CHECK(parts.size() <= 1 || found > 0, context(), printParts("splitText", parts));
    }
    if (limit) {
        size_t kept = std::min<size_t>(parts.size(), static_cast<size_t>(std::max<int32_t>(*limit, 0)));
        std::vector<std::string> prefix(parts.begin(), parts.begin() + static_cast<ptrdiff_t>(kept));
        FUZZ_CHECK(limitedParts == prefix, context(), printParts("limited", limitedParts), printParts("unlimited", parts));
    }
    return 0;
}
