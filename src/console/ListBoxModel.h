// The entries of a list box and its selection: the one place they are kept. A view shows
// them and hears of every change through its observer; the program changes them through
// the control operations. select() is the user's choice: made through the view, or on the
// user's behalf by the administrator's control channel (AdminRequests), and announced to
// nobody. An entry may carry a decoration: a second text that views draw beside the
// entry's own (the roster: a member's name beside its address). It is never the entry's
// text: whatever names an entry by its text (itemText, the relay, the marker store) is
// unaffected by it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Entry indexes are 0-based; -1 stands for "none".
inline constexpr int32_t kNoEntry = -1;

class ListBoxObserver {
public:
    // Insertions and removals are announced before and after the change, so that a view
    // whose toolkit wants to know beforehand (Qt's item models) can tell it.
    virtual void beforeInsert(int32_t index) = 0;
    virtual void afterInsert(int32_t index) = 0;
    virtual void beforeRemove(int32_t index) = 0;
    virtual void afterRemove(int32_t index) = 0;
    // The program changed the selection (deleting the selected entry clears it).
    virtual void selectionChanged(int32_t index) = 0;
    // The entry's decoration changed; its text did not.
    virtual void decorationChanged(int32_t index) = 0;

protected:
    ~ListBoxObserver() = default;
};

class ListBoxModel {
public:
    void setObserver(ListBoxObserver* observer) { m_observer = observer; }

    int32_t count() const { return static_cast<int32_t>(m_entries.size()); }
    // The entry's text, or the empty text for an index outside the list.
    std::string text(int32_t index) const;
    // The same without a copy, valid until the list changes.
    std::string_view textView(int32_t index) const;
    int32_t data(int32_t index) const;
    // The entry's decoration (empty: none), valid until the list changes; the empty text for
    // an index outside the list. A new entry has none; it leaves with its entry.
    std::string_view decoration(int32_t index) const;
    // False for an index outside the list. Announced only when it changes.
    bool setDecoration(int32_t index, std::string_view decoration);
    // Appends an entry; returns its index.
    int32_t add(std::string_view text, int32_t data);
    bool remove(int32_t index);

    int32_t selection() const { return m_selection; }
    // The user chose the entry (a click, a key); nothing is announced to the observer.
    void select(int32_t index);

private:
    struct Entry {
        std::string text;
        int32_t data;
        std::string decoration;
    };
    bool contains(int32_t index) const { return index >= 0 && index < count(); }

    std::vector<Entry> m_entries;
    int32_t m_selection = kNoEntry;
    ListBoxObserver* m_observer = nullptr;
};
