// Checking an interleaved stream as it arrives (see InterleavedStream.h).
#include "InterleavedStream.h"

#include <algorithm>
#include <sstream>

namespace {

std::string printable(std::string_view bytes)
{
    std::ostringstream out;
    for (unsigned char byte : bytes.substr(0, 80)) {
        if (byte >= 0x20 && byte < 0x7f)
            out << byte;
        else
            out << "\\x" << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 15];
    }
    if (bytes.size() > 80)
        out << "...";
    return out.str();
}

} // namespace

InterleavedStream::InterleavedStream(const BytePattern& pattern, std::vector<std::string> texts)
    : m_pattern(pattern)
    , m_texts(std::move(texts))
{
}

void InterleavedStream::feed(std::string_view bytes)
{
    std::lock_guard lock(m_mutex);
    while (!bytes.empty() && m_failure.empty()) {
        if (m_partial.empty()) {
            size_t matched = m_pattern.matchingPrefix(m_offset, bytes);
            m_offset += matched;
            bytes.remove_prefix(matched);
            if (bytes.empty())
                break;
            if (m_pattern.inAlphabet(static_cast<unsigned char>(bytes.front()))) {
                constexpr size_t kProbeBytes = 64;
                std::optional<size_t> at = m_pattern.periodPositionOf(bytes.substr(0, kProbeBytes));
                size_t expected = size_t(m_offset % BytePattern::kPeriod);
                std::string where = !at ? "bytes not of the pattern"
                                        : "the pattern's bytes " + std::to_string((*at + BytePattern::kPeriod - expected) % BytePattern::kPeriod)
                            + " further on, modulo its period of " + std::to_string(BytePattern::kPeriod);
                fail("the pattern breaks off at its byte " + std::to_string(m_offset) + ": received \""
                    + printable(bytes) + "\", " + where);
                break;
            }
        }
        // Inside a text: take as much of it as this piece holds.
        const std::string* candidate = nullptr;
        size_t need = 0;
        for (const std::string& text : m_texts) {
            if (text.size() < m_partial.size() || text.compare(0, m_partial.size(), m_partial) != 0)
                continue;
            size_t rest = text.size() - m_partial.size();
            std::string_view available = bytes.substr(0, rest);
            if (text.compare(m_partial.size(), available.size(), available) == 0) {
                candidate = &text;
                need = rest;
                break;
            }
        }
        if (!candidate) {
            fail("no expected text at pattern byte " + std::to_string(m_offset) + ": received \""
                + printable(m_partial + std::string(bytes.substr(0, 80))) + "\"");
            break;
        }
        size_t taken = std::min(need, bytes.size());
        m_partial.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (m_partial.size() == candidate->size()) {
            m_sightings.push_back({ *candidate, m_offset });
            m_partial.clear();
        }
    }
}

uint64_t InterleavedStream::patternBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_offset;
}

std::vector<InterleavedStream::Sighting> InterleavedStream::sightings() const
{
    std::lock_guard lock(m_mutex);
    return m_sightings;
}

size_t InterleavedStream::timesSeen(std::string_view text) const
{
    std::lock_guard lock(m_mutex);
    return size_t(std::count_if(m_sightings.begin(), m_sightings.end(), [&](const Sighting& seen) { return seen.text == text; }));
}

std::string InterleavedStream::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void InterleavedStream::fail(std::string what)
{
    m_failure = std::move(what);
}
