// Fuzz target for toNumber. Any bytes must convert without a fault, and the result must be
// what the C library's strtod (C locale) makes of the leading decimal number after the
// full-width folding: the reference below folds and cuts that number out by the rules, then
// lets strtod convert it. Two more properties hold without the reference: pure ASCII
// "[space][sign]digits[.digits]" converts exactly as strtod converts it, and writing some of
// an ASCII text's characters in their full-width forms does not change its number.
#include "FuzzCheck.h"
#include "ReferenceText.h"

#include "runtime/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Full-width digits, signs and letters to ASCII, as the table of the folding says.
std::string referenceFold(const std::string& t)
{
    std::string out;
    size_t p = 0;
    while (p < t.size()) {
        unsigned char lead = static_cast<unsigned char>(t[p]);
        if (lead < 0x80 || p + 1 == t.size()) {
            out += t[p];
            p += 1;
            continue;
        }
        unsigned char trail = static_cast<unsigned char>(t[p + 1]);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
            out += static_cast<char>(trail - 0x80);
        else if (lead == 0xA1 && trail == 0xA1)
            out += ' ';
        else if (lead == 0xA1 && trail == 0xAB)
            out += '~';
        else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF))
            out += '*';
        else
            out += t.substr(p, 2);
        p += 2;
    }
    return out;
}

// The leading "[space][sign]digits[.digits][e[sign]digits]" of the text (at least one digit
// in the mantissa), or nothing.
std::string leadingNumber(const std::string& t)
{
    size_t i = 0;
    while (i < t.size() && isSpace(t[i]))
        ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < t.size() && isDigit(t[i]))
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return {};
    size_t end = i;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-'))
            ++j;
        size_t exponentStart = j;
        while (j < t.size() && isDigit(t[j]))
            ++j;
        if (j > exponentStart)
            end = j;
    }
    return t.substr(0, end);
}

double referenceNumber(const std::string& bytes)
{
    std::string number = leadingNumber(referenceFold(reference::text(bytes)));
    return number.empty() ? 0.0 : std::strtod(number.c_str(), nullptr);
}

// Same value and same sign of zero; toNumber never yields NaN.
bool sameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void printNumber(const char* name, double value)
{
    std::fprintf(stderr, "  %s: %.17g\n", name, value);
}

bool isPlainDecimal(const std::string& t)
{
    size_t i = 0;
    while (i < t.size() && isSpace(t[i]))
        ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    size_t whole = i;
    while (i < t.size() && isDigit(t[i]))
        ++i;
    if (i == whole)
        return false;
    if (i < t.size() && t[i] == '.') {
        size_t fraction = ++i;
        while (i < t.size() && isDigit(t[i]))
            ++i;
        if (i == fraction)
            return false;
    }
    return i == t.size();
}

// Some characters of an ASCII text in their two-byte full-width forms, chosen by `mask`.
std::string widen(const std::string& t, uint64_t mask)
{
    std::string out;
    for (size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        bool wide = (mask >> (i % 64)) & 1;
        if (!wide || c < 0x20 || c > 0x7E) {
            out += c;
        } else if (c == ' ') {
            out += "\xA1\xA1";
        } else if (c == '~' && (mask >> ((i + 1) % 64) & 1)) {
            out += "\xA1\xAB";
        } else if (c == '*' && (mask >> ((i + 1) % 64) & 1)) {
            out += (i & 1) ? "\xA1\xEE" : "\xA1\xEF";
        } else {
            out += '\xA3';
            out += static_cast<char>(c + 0x80);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    uint64_t mask = input.ConsumeIntegral<uint64_t>();
    std::string text = input.ConsumeRemainingBytesAsString();

    double value = toNumber(text);
    double expected = referenceNumber(text);
    FUZZ_CHECK(sameNumber(value, expected), fuzzPrintBytes("text", text), printNumber("toNumber", value), printNumber("reference", expected));

    std::string t = reference::text(text);
    if (isPlainDecimal(t)) {
        double direct = std::strtod(t.c_str(), nullptr);
        FUZZ_CHECK(sameNumber(value, direct), fuzzPrintBytes("text", text), printNumber("toNumber", value), printNumber("strtod", direct));
    }

    bool ascii = true;
    for (char c : t)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        std::string wide = widen(t, mask);
        double wideValue = toNumber(wide);
        FUZZ_CHECK(sameNumber(value, wideValue), fuzzPrintBytes("text", t), fuzzPrintBytes("full-width", wide), printNumber("toNumber", value),
            printNumber("toNumber full-width", wideValue));
    }
    return 0;
}
