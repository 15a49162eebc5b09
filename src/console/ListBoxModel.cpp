// A list box's entries and selection (see ListBoxModel.h).
#include "console/ListBoxModel.h"

std::string ListBoxModel::text(int32_t index) const
{
    return contains(index) ? m_entries[static_cast<size_t>(index)].text : std::string();
}

std::string_view ListBoxModel::textView(int32_t index) const
{
    return contains(index) ? std::string_view(m_entries[static_cast<size_t>(index)].text) : std::string_view();
}

int32_t ListBoxModel::data(int32_t index) const
{
    return contains(index) ? m_entries[static_cast<size_t>(index)].data : 0;
}

std::string_view ListBoxModel::decoration(int32_t index) const
{
    return contains(index) ? std::string_view(m_entries[static_cast<size_t>(index)].decoration) : std::string_view();
}

bool ListBoxModel::setDecoration(int32_t index, std::string_view decoration)
{
    if (!contains(index))
        return false;
    std::string& held = m_entries[static_cast<size_t>(index)].decoration;
    if (held == decoration)
        return true;
    held = decoration;
    if (m_observer)
        m_observer->decorationChanged(index);
    return true;
}

int32_t ListBoxModel::add(std::string_view text, int32_t data)
{
    int32_t index = count();
    if (m_observer)
        m_observer->beforeInsert(index);
    m_entries.push_back({ std::string(text), data, {} });
    if (m_observer)
        m_observer->afterInsert(index);
    return index;
}

bool ListBoxModel::remove(int32_t index)
{
    if (!contains(index))
        return false;
    if (m_observer)
        m_observer->beforeRemove(index);
    m_entries.erase(m_entries.begin() + index);
    if (m_observer)
        m_observer->afterRemove(index);
    // Deleting the selected entry leaves nothing selected, as the user last saw it; a later
    // selected entry moves up with the list.
    if (index == m_selection) {
        m_selection = kNoEntry;
        if (m_observer)
            m_observer->selectionChanged(m_selection);
    } else if (index < m_selection) {
        --m_selection;
    }
    return true;
}

void ListBoxModel::select(int32_t index)
{
    m_selection = contains(index) ? index : kNoEntry;
}
