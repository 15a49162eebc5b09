// The marker store's line index (see MarkerLineIndex.h).
#include "console/MarkerLineIndex.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::string_view kLineEnd = "=1\r\n";
// What a line's end starts with, and what of it makes X "=1" match.
constexpr char kLineEndStart = '=';
constexpr size_t kMarkerTailSize = 2;
// Lines are chained by this many of their last bytes; shorter texts (never a client address,
// whose shortest form "0.0.0.0:0" is longer) are looked for line by line.
constexpr size_t kKeyBytes = sizeof(uint64_t);
// Offsets are kept in 32 bits and answers are 32-bit positions.
constexpr size_t kLargestContent = std::numeric_limits<int32_t>::max();
constexpr unsigned char kFirstLeadByte = 0x80;

// A byte that a marker line's text may hold: none that could start or be part of a line end,
// and no byte of a two-byte character (every byte then starts a character).
bool isLineTextByte(char byte)
{
    return byte != kLineEndStart && byte != '\r' && byte != '\n' && byte != '\0' && static_cast<unsigned char>(byte) < kFirstLeadByte;
}

uint64_t keyOf(std::string_view text)
{
    uint64_t key = 0;
    std::memcpy(&key, text.data() + text.size() - kKeyBytes, kKeyBytes);
    return key;
}

} // namespace

void MarkerLineIndex::rebuild(std::string_view content)
{
    m_usable = true;
    m_lines.clear();
    m_chains.clear();
    m_unfinishedStart = 0;
    m_resumeAt = 0;
    m_expectedLine = 0;
    extend(content);
}

// Reading resumes where it stopped: a text that grows by small appends is read once.
void MarkerLineIndex::extend(std::string_view content)
{
    if (!m_usable)
        return;
    if (content.size() > kLargestContent) {
        m_usable = false;
        return;
    }
    size_t at = m_resumeAt;
    while (at < content.size()) {
        char byte = content[at];
        if (byte != kLineEndStart) {
            if (!isLineTextByte(byte)) {
                m_usable = false;
                return;
            }
            ++at;
            continue;
        }
        std::string_view rest = content.substr(at, kLineEnd.size());
        if (!kLineEnd.starts_with(rest)) {
            m_usable = false;
            return;
        }
        if (rest.size() < kLineEnd.size())
            break; // the line end is completed by a later append
        addLine(content, static_cast<uint32_t>(m_unfinishedStart), static_cast<uint32_t>(at - m_unfinishedStart));
        at += kLineEnd.size();
        m_unfinishedStart = at;
    }
    m_resumeAt = at;
}

void MarkerLineIndex::addLine(std::string_view content, uint32_t start, uint32_t length)
{
    auto index = static_cast<uint32_t>(m_lines.size());
    m_lines.push_back({ start, length, kNone, kNone });
    if (length < kKeyBytes)
        return;
    std::string_view text = content.substr(start, length);
    auto [chain, added] = m_chains.try_emplace(keyOf(text), Chain { index, index });
    if (!added) {
        m_lines[chain->second.last].nextWithSameKey = index;
        chain->second.last = index;
    }
    // Every line ending with this text shares its last bytes: the chain holds the first.
    for (uint32_t earlier = chain->second.first;; earlier = m_lines[earlier].nextWithSameKey) {
        if (endsWith(content, m_lines[earlier], text)) {
            m_lines[index].firstEndingWithIt = earlier;
            return;
        }
    }
}

bool MarkerLineIndex::endsWith(std::string_view content, const Line& line, std::string_view text) const
{
    return line.length >= text.size() && content.substr(line.start + line.length - text.size(), text.size()) == text;
}

bool MarkerLineIndex::isLineText(std::string_view content, uint32_t index, std::string_view text) const
{
    return index < m_lines.size() && m_lines[index].length == text.size() && content.substr(m_lines[index].start, text.size()) == text;
}

std::optional<int32_t> MarkerLineIndex::findMarker(std::string_view content, std::string_view text) const
{
    if (!m_usable)
        return std::nullopt;
    // X "=1" occurs only where a line's text ends with X: the first such line answers.
    auto answer = [&](const Line& line) { return static_cast<int32_t>(line.start + line.length - text.size() + 1); };
    if (isLineText(content, m_expectedLine, text) && m_lines[m_expectedLine].firstEndingWithIt != kNone)
        return answer(m_lines[m_lines[m_expectedLine++].firstEndingWithIt]);
    if (text.empty() || !std::all_of(text.begin(), text.end(), isLineTextByte))
        return std::nullopt;
    if (text.size() >= kKeyBytes) {
        auto chain = m_chains.find(keyOf(text));
        for (uint32_t index = chain == m_chains.end() ? kNone : chain->second.first; index != kNone; index = m_lines[index].nextWithSameKey) {
            if (!endsWith(content, m_lines[index], text))
                continue;
            if (isLineText(content, index, text))
                m_expectedLine = index + 1;
            return answer(m_lines[index]);
        }
    } else {
        for (const Line& line : m_lines) {
            if (endsWith(content, line, text))
                return answer(line);
        }
    }
    return findInUnfinishedLine(content, text);
}

// The unfinished line matches when its line end has come as far as "=1".
int32_t MarkerLineIndex::findInUnfinishedLine(std::string_view content, std::string_view text) const
{
    if (m_resumeAt >= content.size() || content.size() - m_resumeAt < kMarkerTailSize)
        return -1;
    std::string_view lineText = content.substr(m_unfinishedStart, m_resumeAt - m_unfinishedStart);
    if (!lineText.ends_with(text))
        return -1;
    return static_cast<int32_t>(m_resumeAt - text.size() + 1);
}
