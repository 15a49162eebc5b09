// A long run of known bytes that a receiver can check at any offset without keeping a copy:
// one period of pseudo-random bytes drawn from a chosen alphabet, repeated. The period is a
// prime number of bytes, so that no chunk size of a test or of the server lines up with it and
// a lost or repeated chunk shows as a mismatch.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

class BytePattern {
public:
    static constexpr size_t kPeriod = 1048573; // the largest prime below 1 MiB

    explicit BytePattern(std::string_view alphabet, uint32_t seed = 1)
        : m_period(kPeriod, '\0')
    {
        for (unsigned char byte : alphabet)
            m_inAlphabet[byte] = true;
        uint64_t state = seed;
        for (char& byte : m_period) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = alphabet[(state >> 33) % alphabet.size()];
        }
    }

    bool inAlphabet(unsigned char byte) const { return m_inAlphabet[byte]; }

    std::string slice(uint64_t offset, size_t length) const
    {
        std::string bytes;
        bytes.reserve(length);
        while (bytes.size() < length) {
            size_t at = size_t((offset + bytes.size()) % kPeriod);
            bytes.append(m_period, at, std::min(kPeriod - at, length - bytes.size()));
        }
        return bytes;
    }

    // How many leading bytes of `bytes` are the pattern's from `offset` on.
    size_t matchingPrefix(uint64_t offset, std::string_view bytes) const
    {
        size_t matched = 0;
        while (matched < bytes.size()) {
            size_t at = size_t((offset + matched) % kPeriod);
            size_t span = std::min(kPeriod - at, bytes.size() - matched);
            const char* expected = m_period.data() + at;
            const char* got = bytes.data() + matched;
            if (std::memcmp(expected, got, span) != 0)
                return matched + size_t(std::mismatch(got, got + span, expected).first - got);
            matched += span;
        }
        return matched;
    }

    // Where in the period `bytes` (a few dozen of them) stand, for telling a failure's reader
    // how many bytes went missing or came twice; nothing when they are not the pattern's.
    std::optional<size_t> periodPositionOf(std::string_view bytes) const
    {
        std::string twoPeriods = m_period + m_period.substr(0, bytes.size());
        size_t found = twoPeriods.find(bytes);
        if (found == std::string::npos || found >= kPeriod)
            return std::nullopt;
        return found;
    }

private:
    std::string m_period;
    bool m_inAlphabet[256] {};
};

// Lower-case letters only: room for texts that start with any other byte between them.
inline const BytePattern& letterPattern()
{
    static const BytePattern pattern("abcdefghijklmnopqrstuvwxyz");
    return pattern;
}
