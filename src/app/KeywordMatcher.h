// The robot's keyword index: finds the first keyword (in library order) that occurs in a
// message line at a character boundary, in one pass over the line however many keywords there
// are, so that a long line costs the same with a large library as with a small one. The
// answer is exactly that of trying each keyword with findText in turn (firstKeywordPlainly,
// kept as the reference the index is checked against).
#pragma once

#include "runtime/TextArray.h"

#include <cstdint>
#include <string_view>
#include <vector>

// An Aho-Corasick automaton over characters rather than bytes. Each byte becomes a symbol that
// also says whether it is the second byte of a two-byte character; a keyword is read the same
// way from its own first byte. A keyword then occurs at a character boundary of the line
// exactly when its symbols occur in the line's symbols, and no match can start inside a
// character: the automaton needs no boundary check per match, and every state can carry the
// earliest keyword among all those that end there.
class KeywordMatcher {
public:
    // No keywords: nothing matches.
    KeywordMatcher();
    // Keywords end at their first NUL, like every text; an empty one occurs in every
    // non-empty line.
    explicit KeywordMatcher(const TextArray& keywords);

    // The 1-based index of the first keyword that occurs in the line, or 0 when none does.
    int32_t firstMatch(std::string_view line) const;
    // How many keywords the index was built from.
    int32_t keywordCount() const { return m_keywordCount; }

private:
    void buildTrie(const TextArray& keywords, std::vector<uint32_t>& parents, std::vector<uint16_t>& symbols);
    void linkEdges(const std::vector<uint32_t>& parents, const std::vector<uint16_t>& symbols);
    void linkFailures();
    uint32_t child(uint32_t state, uint16_t symbol) const;
    uint32_t next(uint32_t state, uint16_t symbol) const;

    int32_t m_keywordCount = 0;
    // The first empty keyword, which every non-empty line contains.
    int32_t m_firstEmpty;

    // Per state (0 is the root): its children are m_edgeSymbols/m_edgeTargets from
    // m_firstEdge[state] up to m_firstEdge[state + 1], by increasing symbol; the state of its
    // longest proper suffix that is a keyword prefix; the earliest keyword ending there.
    std::vector<uint32_t> m_firstEdge;
    std::vector<uint16_t> m_edgeSymbols;
    std::vector<uint32_t> m_edgeTargets;
    std::vector<uint32_t> m_failure;
    std::vector<int32_t> m_earliest;
    // The root's children by symbol (the root itself: none), since most bytes of a line are
    // read there.
    std::vector<uint32_t> m_rootNext;
};

// The plain search: each keyword tried with findText in turn, the first one found wins.
int32_t firstKeywordPlainly(const TextArray& keywords, std::string_view line);
