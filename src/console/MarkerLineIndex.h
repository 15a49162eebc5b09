// An index beside the marker store's text that answers "where does X=1 first occur" in time
// independent of the store's length, while the text itself stays exactly as written.
//
// It serves a text made of marker lines, X "=1" CR LF each, where no X holds '=', CR, LF or a
// byte of a two-byte character, followed by an unfinished line (bytes that a later append
// completes). In such a text '=' only ever starts a line's end, so X "=1" can only occur as
// the end of a line whose text ends with X: the first such line gives the answer. Lines are
// found by the last bytes of their text, so that a lookup visits only the lines that share
// them; and since the relay asks for the roster's markers in the order they were written, the
// line after the one asked for last is compared first, which spares the hashing. Any other text makes the index step aside (answers nothing) until the content is
// replaced, and the caller searches the text itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

class MarkerLineIndex {
public:
    // Starts over on a new content.
    void rebuild(std::string_view content);
    // The content grew at its end; `content` is the whole of it.
    void extend(std::string_view content);

    // findText(content, text + "=1") when the index can tell, which it can for a text made of
    // the bytes a marker line's text may hold; otherwise nothing.
    std::optional<int32_t> findMarker(std::string_view content, std::string_view text) const;

private:
    struct Line {
        uint32_t start = 0; // offset of the line's text
        uint32_t length = 0; // of its text, without "=1" CR LF
        uint32_t nextWithSameKey = kNone; // the following line whose text ends the same way
        // The first line whose text ends with this one's (this one, or an earlier line whose
        // text is longer), or kNone for texts too short to be chained.
        uint32_t firstEndingWithIt = kNone;
    };
    struct Chain {
        uint32_t first;
        uint32_t last;
    };
    static constexpr uint32_t kNone = UINT32_MAX;

    void addLine(std::string_view content, uint32_t start, uint32_t length);
    bool endsWith(std::string_view content, const Line& line, std::string_view text) const;
    bool isLineText(std::string_view content, uint32_t index, std::string_view text) const;
    int32_t findInUnfinishedLine(std::string_view content, std::string_view text) const;

    bool m_usable = true;
    std::vector<Line> m_lines;
    // The first and last line of each key (a line's last bytes, see keyOf), in content order.
    std::unordered_map<uint64_t, Chain> m_chains;
    // Where the unfinished line starts (everything before it is complete lines), and where
    // reading resumes when the content grows: the end of what was read, or the start of a
    // line end that is not complete yet.
    size_t m_unfinishedStart = 0;
    size_t m_resumeAt = 0;
    // The line whose text is likely asked for next.
    mutable uint32_t m_expectedLine = 0;
};
