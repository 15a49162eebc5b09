// Text operations on code page 936 byte strings (see Text.h for the rules they share).
#include "runtime/Text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

using text_detail::findAtCharacterStart;

namespace {

std::string_view asText(std::string_view bytes) { return textBeforeNul(bytes); }

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Full-width digits, signs and letters (and a few look-alikes) become their ASCII forms, so
// that a count typed with an input method still reads as a number.
std::string foldFullWidth(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        if (!(lead & 0x80) || i + 1 >= text.size()) {
            folded.push_back(text[i]);
            ++i;
            continue;
        }
        auto trail = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
            folded.push_back(static_cast<char>(trail - 0x80));
        else if (lead == 0xA1 && trail == 0xA1)
            folded.push_back(' ');
        else if (lead == 0xA1 && trail == 0xAB)
            folded.push_back('~');
        else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF))
            folded.push_back('*');
        else
            folded.append(text.substr(i, 2));
        i += 2;
    }
    return folded;
}

// The power of ten just above the number's first significant digit (1 for 1.5, -2 for
// 0.005), saturated far beyond what a double can hold; only its sign matters to the caller.
int64_t decimalMagnitude(std::string_view whole, std::string_view fraction, bool exponentNegative, std::string_view exponentDigits)
{
    constexpr int64_t kSaturated = int64_t(1) << 40;
    int64_t magnitude = 0;
    size_t firstSignificant = whole.find_first_not_of('0');
    if (firstSignificant != std::string_view::npos) {
        magnitude = static_cast<int64_t>(whole.size() - firstSignificant);
    } else {
        size_t firstFraction = fraction.find_first_not_of('0');
        if (firstFraction == std::string_view::npos)
            return std::numeric_limits<int64_t>::min(); // all zeros
        magnitude = -static_cast<int64_t>(firstFraction);
    }
    int64_t exponent = 0;
    for (char digit : exponentDigits) {
        exponent = exponent * 10 + (digit - '0');
        if (exponent > kSaturated) {
            exponent = kSaturated;
            break;
        }
    }
    return exponentNegative ? magnitude - exponent : magnitude + exponent;
}

} // namespace

std::string_view textBeforeNul(std::string_view bytes)
{
    size_t nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

size_t text_detail::findAtCharacterStart(std::string_view text, size_t from, std::string_view sought)
{
    if (sought.empty() || text.size() < sought.size() || from > text.size() - sought.size())
        return std::string_view::npos;
    // Only starts from which the whole of `sought` fits are tried; the prefix keeps every
    // character boundary where it was.
    std::string_view starts = text.substr(0, text.size() - sought.size() + 1);
    return findCharacterStart(starts, from, [&](size_t position) { return std::memcmp(text.data() + position, sought.data(), sought.size()) == 0; });
}

Text concatText(std::string_view a, std::string_view b, std::string_view c, std::string_view d)
{
    a = asText(a), b = asText(b), c = asText(c), d = asText(d);
    Text result;
    result.reserve(a.size() + b.size() + c.size() + d.size());
    result.append(a).append(b).append(c).append(d);
    return result;
}

int32_t textLength(std::string_view text)
{
    return static_cast<int32_t>(asText(text).size());
}

int compareText(std::string_view a, std::string_view b)
{
    int order = asText(a).compare(asText(b));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int32_t findText(std::string_view text, std::string_view sought)
{
    text = asText(text);
    sought = asText(sought);
    if (sought.empty())
        return text.empty() ? -1 : 1;
    size_t found = findAtCharacterStart(text, 0, sought);
    return found == std::string_view::npos ? -1 : static_cast<int32_t>(found + 1);
}

Text replaceText(std::string_view text, std::string_view sought, std::string_view replacement)
{
    text = asText(text);
    sought = asText(sought);
    replacement = asText(replacement);
    if (text.empty() || sought.empty())
        return Text(text);
    Text output;
    output.reserve(text.size());
    size_t position = 0;
    for (size_t found; (found = findAtCharacterStart(text, position, sought)) != std::string_view::npos; position = found + sought.size())
        output.append(text.substr(position, found - position)).append(replacement);
    output.append(text.substr(position));
    return output;
}

TextArray splitText(std::string_view text, std::string_view separator, std::optional<int32_t> limit)
{
    text = asText(text);
    separator = asText(separator);
    int64_t maxParts = limit ? std::max<int64_t>(*limit, 0) : std::numeric_limits<int64_t>::max();
    TextArray parts;
    if (text.empty() || maxParts == 0)
        return parts;
    if (separator.empty()) {
        parts.appendElement(Text(text));
        return parts;
    }
    size_t partStart = 0;
    int64_t count = 0;
    for (size_t found; (found = findAtCharacterStart(text, partStart, separator)) != std::string_view::npos;) {
        parts.appendElement(Text(text.substr(partStart, found - partStart)));
        partStart = found + separator.size();
        if (++count == maxParts)
            return parts;
    }
    if (partStart < text.size())
        parts.appendElement(Text(text.substr(partStart)));
    return parts;
}

std::optional<std::string_view> lastSplitPart(std::string_view text, std::string_view separator)
{
    text = asText(text);
    separator = asText(separator);
    if (text.empty())
        return std::nullopt;
    if (separator.empty())
        return text;
    // The same scan as splitText, remembering only the latest part that a separator closed.
    size_t partStart = 0;
    std::string_view closedPart;
    for (size_t found; (found = findAtCharacterStart(text, partStart, separator)) != std::string_view::npos;) {
        closedPart = text.substr(partStart, found - partStart);
        partStart = found + separator.size();
    }
    if (partStart < text.size())
        return text.substr(partStart);
    return closedPart;
}

double toNumber(std::string_view text)
{
    std::string folded = foldFullWidth(asText(text));
    size_t i = 0;
    while (i < folded.size() && isSpace(folded[i]))
        ++i;
    bool negative = false;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-'))
        negative = folded[i++] == '-';

    // Collect the number's parts, then hand a normalised form to the locale-independent parser.
    size_t intStart = i;
    while (i < folded.size() && isDigit(folded[i]))
        ++i;
    std::string_view whole(folded.data() + intStart, i - intStart);
    std::string_view fraction;
    if (i < folded.size() && folded[i] == '.') {
        size_t fracStart = ++i;
        while (i < folded.size() && isDigit(folded[i]))
            ++i;
        fraction = std::string_view(folded.data() + fracStart, i - fracStart);
    }
    if (whole.empty() && fraction.empty())
        return 0.0;
    std::string normal = std::string(whole.empty() ? "0" : whole) + "." + std::string(fraction.empty() ? "0" : fraction);
    bool exponentNegative = false;
    std::string_view exponentDigits;
    if (i < folded.size() && (folded[i] == 'e' || folded[i] == 'E')) {
        size_t j = i + 1;
        if (j < folded.size() && (folded[j] == '+' || folded[j] == '-'))
            exponentNegative = folded[j++] == '-';
        size_t digitsStart = j;
        while (j < folded.size() && isDigit(folded[j]))
            ++j;
        exponentDigits = std::string_view(folded.data() + digitsStart, j - digitsStart);
        if (!exponentDigits.empty())
            normal += std::string(exponentNegative ? "e-" : "e") + std::string(exponentDigits);
    }
    double value = 0.0;
    auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Overflow reads as infinity and underflow as zero, as the C library's strtod gives.
        // Which of the two it is follows from the decimal magnitude, not from the exponent's
        // sign alone: 1 followed by 400 zeros "e-5" is still huge, 0.(400 zeros)1 is tiny.
        value = decimalMagnitude(whole, fraction, exponentNegative, exponentDigits) > 0
            ? std::numeric_limits<double>::infinity()
            : 0.0;
    }
    return negative ? -value : value;
}

Text toText(double value)
{
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 13);
    if (error != std::errc())
        return Text();
    return Text(buffer, end);
}

Text toText(const ByteBlock& block)
{
    return Text(asText(block.view()));
}

int32_t toInteger(double value)
{
    // Out-of-range values saturate instead of being undefined; NaN reads as 0.
    if (std::isnan(value))
        return 0;
    double truncated = std::trunc(value);
    if (truncated >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (truncated <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(truncated);
}
