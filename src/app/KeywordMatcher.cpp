// The robot's keyword index (see KeywordMatcher.h).
#include "app/KeywordMatcher.h"

#include "runtime/Text.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <utility>

using text_detail::characterStep;

namespace {

constexpr uint32_t kRoot = 0;
// "No keyword ends here": above every index, so that the earliest keyword is a plain minimum.
constexpr int32_t kNoKeyword = std::numeric_limits<int32_t>::max();
// Once the library's first keyword is found, nothing later in the line can beat it.
constexpr int32_t kFirstKeyword = 1;

// A byte that starts a character is its own symbol; the second byte of a two-byte character
// is a symbol of its own range, so that it never matches a byte that starts a character.
constexpr uint16_t kTrailOffset = 256;
constexpr size_t kSymbolCount = 2 * kTrailOffset;

// Turns the bytes of one text, in order, into symbols.
class SymbolReader {
public:
    uint16_t operator()(char byte)
    {
        auto value = static_cast<unsigned char>(byte);
        if (m_inCharacter) {
            m_inCharacter = false;
            return static_cast<uint16_t>(kTrailOffset + value);
        }
        m_inCharacter = characterStep(value) > 1;
        return value;
    }

private:
    bool m_inCharacter = false;
};

std::string_view untilNul(std::string_view bytes)
{
    return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

} // namespace

KeywordMatcher::KeywordMatcher()
    : m_firstEmpty(kNoKeyword)
    , m_firstEdge { 0, 0 }
    , m_failure { kRoot }
    , m_earliest { kNoKeyword }
    , m_rootNext(kSymbolCount, kRoot)
{
}

KeywordMatcher::KeywordMatcher(const TextArray& keywords)
    : KeywordMatcher()
{
    m_keywordCount = keywords.elementCount();
    // Per state: the state it is entered from and the symbol that enters it (the root's own
    // entries are never read).
    std::vector<uint32_t> parents { kRoot };
    std::vector<uint16_t> symbols { 0 };
    buildTrie(keywords, parents, symbols);
    linkEdges(parents, symbols);
    linkFailures();
}

void KeywordMatcher::buildTrie(const TextArray& keywords, std::vector<uint32_t>& parents, std::vector<uint16_t>& symbols)
{
    std::vector<std::pair<std::string_view, int32_t>> sorted;
    for (int32_t index = 1; index <= keywords.elementCount(); ++index) {
        std::string_view keyword = untilNul(keywords.elementAt(index));
        if (keyword.empty())
            m_firstEmpty = std::min(m_firstEmpty, index);
        else
            sorted.emplace_back(keyword, index);
    }
    // In byte order (string_view compares bytes as unsigned), keywords that begin alike are
    // neighbours, so each adds only the states beyond what it shares with the one before, and
    // every state's children are made in increasing symbol order. A symbol depends only on
    // the bytes up to it, so a shared beginning in bytes is a shared beginning in symbols.
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint32_t> path { kRoot }; // path[d]: the state after d symbols of the last keyword
    std::string_view previous;
    for (const auto& [keyword, index] : sorted) {
        size_t shared = static_cast<size_t>(std::mismatch(keyword.begin(), keyword.end(), previous.begin(), previous.end()).first - keyword.begin());
        path.resize(shared + 1);
        SymbolReader read;
        for (size_t depth = 0; depth < keyword.size(); ++depth) {
            uint16_t symbol = read(keyword[depth]);
            if (depth < shared)
                continue;
            auto state = static_cast<uint32_t>(parents.size());
            parents.push_back(path.back());
            symbols.push_back(symbol);
            m_earliest.push_back(kNoKeyword);
            path.push_back(state);
        }
        // The same keyword twice answers with its first entry.
        m_earliest[path.back()] = std::min(m_earliest[path.back()], index);
        previous = keyword;
    }
}

void KeywordMatcher::linkEdges(const std::vector<uint32_t>& parents, const std::vector<uint16_t>& symbols)
{
    size_t stateCount = parents.size();
    m_firstEdge.assign(stateCount + 1, 0);
    for (size_t state = 1; state < stateCount; ++state)
        ++m_firstEdge[parents[state] + 1];
    std::partial_sum(m_firstEdge.begin(), m_firstEdge.end(), m_firstEdge.begin());
    m_edgeSymbols.resize(stateCount - 1);
    m_edgeTargets.resize(stateCount - 1);
    // States in the order they were made keep each state's children in symbol order.
    std::vector<uint32_t> nextSlot(m_firstEdge.begin(), m_firstEdge.end() - 1);
    for (size_t state = 1; state < stateCount; ++state) {
        uint32_t slot = nextSlot[parents[state]]++;
        m_edgeSymbols[slot] = symbols[state];
        m_edgeTargets[slot] = static_cast<uint32_t>(state);
        if (parents[state] == kRoot)
            m_rootNext[symbols[state]] = static_cast<uint32_t>(state);
    }
}

void KeywordMatcher::linkFailures()
{
    // Breadth first: a state's failure is shallower than the state, so it is complete (and
    // its earliest keyword final) before any state that falls back on it.
    m_failure.assign(m_earliest.size(), kRoot);
    std::vector<uint32_t> queue { kRoot };
    queue.reserve(m_earliest.size());
    for (size_t head = 0; head < queue.size(); ++head) {
        uint32_t state = queue[head];
        for (uint32_t edge = m_firstEdge[state]; edge < m_firstEdge[state + 1]; ++edge) {
            uint32_t target = m_edgeTargets[edge];
            if (state != kRoot)
                m_failure[target] = next(m_failure[state], m_edgeSymbols[edge]);
            // Every keyword that ends at the fallback also ends here.
            m_earliest[target] = std::min(m_earliest[target], m_earliest[m_failure[target]]);
            queue.push_back(target);
        }
    }
}

uint32_t KeywordMatcher::child(uint32_t state, uint16_t symbol) const
{
    auto begin = m_edgeSymbols.begin() + m_firstEdge[state];
    auto end = m_edgeSymbols.begin() + m_firstEdge[state + 1];
    auto found = std::lower_bound(begin, end, symbol);
    if (found == end || *found != symbol)
        return kRoot;
    return m_edgeTargets[static_cast<size_t>(found - m_edgeSymbols.begin())];
}

// The state after `symbol`: the longest keyword prefix that the text read so far ends with.
uint32_t KeywordMatcher::next(uint32_t state, uint16_t symbol) const
{
    for (; state != kRoot; state = m_failure[state]) {
        if (uint32_t target = child(state, symbol); target != kRoot)
            return target;
    }
    return m_rootNext[symbol];
}

int32_t KeywordMatcher::firstMatch(std::string_view line) const
{
    bool empty = line.empty() || line.front() == '\0';
    int32_t earliest = empty ? kNoKeyword : m_firstEmpty;
    uint32_t state = kRoot;
    SymbolReader read;
    for (size_t i = 0; i < line.size() && line[i] != '\0' && earliest != kFirstKeyword; ++i) {
        state = next(state, read(line[i]));
        earliest = std::min(earliest, m_earliest[state]);
    }
    return earliest == kNoKeyword ? 0 : earliest;
}

int32_t firstKeywordPlainly(const TextArray& keywords, std::string_view line)
{
    for (int32_t index = 1; index <= keywords.elementCount(); ++index) {
        if (findText(line, keywords.elementAt(index)) != -1)
            return index;
    }
    return 0;
}
