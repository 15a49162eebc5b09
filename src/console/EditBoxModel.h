// The text of an edit box, kept apart from any widget. A shown box's view listens for
// changes; the hidden marker box is only ever this model: it is searched for every roster
// entry on every relay, so it must not cost widget work, and a search must not cost the
// length of the text. Marker lookups are answered by an index of the text's marker lines;
// other searches (and all of them while the text is not made of marker lines) from earlier
// finds where that gives the same result, or by searching the text.
#pragma once

#include "console/MarkerLineIndex.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class EditBoxModel {
public:
    const std::string& content() const { return m_content; }
    void setContent(std::string_view text);
    void append(std::string_view text);
    // Called after every change of the content; the view of a shown box sets it.
    void setChangeListener(std::function<void()> listener) { m_onChange = std::move(listener); }

    // Exactly findText(content(), sought): the 1-based position of the first occurrence that
    // starts on a character boundary, or -1.
    int32_t find(std::string_view sought) const;
    // Exactly find(concatText(head, tail)), without putting the text together when it is the
    // one a relay is expected to ask next (see m_foundOrder).
    int32_t findJoined(std::string_view head, std::string_view tail) const;

private:
    // Whether `sought` is the text expected next: then its answer is known.
    bool isExpectedNext(std::string_view head, std::string_view tail = {}) const;

    void noteBytes(std::string_view text);
    void forgetFinds() const;

    std::string m_content;
    std::function<void()> m_onChange;
    // Without lead bytes every byte starts a character, so a plain substring search is exact.
    bool m_hasLeadBytes = false;
    MarkerLineIndex m_markerLines;

    // Positions found earlier where the marker index cannot answer. Appending never moves a first occurrence, so these stay true
    // until the content is replaced; misses are not kept, since an append can end them.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };
    struct Found {
        int32_t position;
        size_t order; // its place in m_foundOrder
    };
    using FoundIndex = std::unordered_map<std::string, Found, TextHash, std::equal_to<>>;
    mutable FoundIndex m_found;
    // The same finds in the order they were first made, with the place of the one expected
    // next. The relay asks for every roster entry's marker in roster order, relay after relay:
    // the text asked after the one just answered is compared first, which spares the hashing.
    mutable std::vector<const FoundIndex::value_type*> m_foundOrder;
    mutable size_t m_nextExpected = 0;
    mutable std::string m_joined; // findJoined's text when it has to be put together
};
