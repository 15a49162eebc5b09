// The text of an edit box, kept apart from any widget. A shown box's view listens for
// changes; the hidden marker box is only ever this model: it is searched on every relay, so
// it must not cost widget work, and its searches are answered from an index of earlier finds
// where that gives the same result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

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

private:
    void noteBytes(std::string_view text);

    std::string m_content;
    std::function<void()> m_onChange;
    // Without lead bytes every byte starts a character, so a plain substring search is exact.
    bool m_hasLeadBytes = false;
    // Positions found earlier. Appending never moves a first occurrence, so these stay true
    // until the content is replaced; misses are not kept, since an append can end them.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };
    mutable std::unordered_map<std::string, int32_t, TextHash, std::equal_to<>> m_found;
};
