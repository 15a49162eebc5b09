// Base64 with padding (see Base64.h).
#include "web/Base64.h"

#include <algorithm>

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kGroupBytes = 3;
constexpr size_t kGroupChars = 4;
constexpr unsigned kSixBits = 0x3F;
constexpr char kPad = '=';

} // namespace

std::string base64Encode(std::span<const unsigned char> bytes)
{
    std::string text;
    text.reserve((bytes.size() + kGroupBytes - 1) / kGroupBytes * kGroupChars);
    for (size_t i = 0; i < bytes.size(); i += kGroupBytes) {
        size_t present = std::min(kGroupBytes, bytes.size() - i);
        unsigned group = static_cast<unsigned>(bytes[i]) << 16;
        if (present > 1)
            group |= static_cast<unsigned>(bytes[i + 1]) << 8;
        if (present > 2)
            group |= bytes[i + 2];
        for (size_t c = 0; c < kGroupChars; ++c) {
            if (c <= present)
                text += kAlphabet[(group >> (18 - 6 * c)) & kSixBits];
            else
                text += kPad;
        }
    }
    return text;
}

std::optional<size_t> base64DecodedSize(std::string_view text)
{
    if (text.empty() || text.size() % kGroupChars != 0)
        return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == kPad)
        ++padding;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        if (kAlphabet.find(text[i]) == std::string_view::npos)
            return std::nullopt;
    }
    return text.size() / kGroupChars * kGroupBytes - padding;
}
