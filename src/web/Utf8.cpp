// The UTF-8 well-formedness check (see Utf8.h), after the table of well-formed byte
// sequences in the Unicode standard (section 3.9).
#include "web/Utf8.h"

#include <cstddef>

namespace {

constexpr unsigned char kAsciiEnd = 0x80;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

struct SequenceRule {
    unsigned char leadLow;
    unsigned char leadHigh;
    size_t length;
    // The range of the second byte, which excludes overlong forms, surrogates and values
    // above U+10FFFF; later bytes are plain continuation bytes.
    unsigned char secondLow;
    unsigned char secondHigh;
};

constexpr SequenceRule kRules[] = {
    { 0xC2, 0xDF, 2, 0x80, 0xBF },
    { 0xE0, 0xE0, 3, 0xA0, 0xBF },
    { 0xE1, 0xEC, 3, 0x80, 0xBF },
    { 0xED, 0xED, 3, 0x80, 0x9F },
    { 0xEE, 0xEF, 3, 0x80, 0xBF },
    { 0xF0, 0xF0, 4, 0x90, 0xBF },
    { 0xF1, 0xF3, 4, 0x80, 0xBF },
    { 0xF4, 0xF4, 4, 0x80, 0x8F },
};

const SequenceRule* ruleFor(unsigned char lead)
{
    for (const SequenceRule& rule : kRules) {
        if (lead >= rule.leadLow && lead <= rule.leadHigh)
            return &rule;
    }
    return nullptr;
}

bool within(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < kAsciiEnd) {
            ++i;
            continue;
        }
        const SequenceRule* rule = ruleFor(lead);
        if (!rule || bytes.size() - i < rule->length)
            return false;
        if (!within(static_cast<unsigned char>(bytes[i + 1]), rule->secondLow, rule->secondHigh))
            return false;
        for (size_t k = 2; k < rule->length; ++k) {
            if (!within(static_cast<unsigned char>(bytes[i + k]), kContinuationLow, kContinuationHigh))
                return false;
        }
        i += rule->length;
    }
    return true;
}
