// The edit box text model and its indexed search (see EditBoxModel.h).
#include "console/EditBoxModel.h"

#include "runtime/Text.h"

#include <algorithm>

namespace {

// Keeps the index from growing without bound when many different texts are looked up.
constexpr size_t kMaxRememberedFinds = 8192;
// What follows the entry in a delivery marker.
constexpr std::string_view kMarkerTail = "=1";

} // namespace

void EditBoxModel::setContent(std::string_view text)
{
    text = textBeforeNul(text);
    m_content.assign(text);
    m_hasLeadBytes = false;
    noteBytes(m_content);
    m_markerLines.rebuild(m_content);
    forgetFinds();
    if (m_onChange)
        m_onChange();
}

void EditBoxModel::append(std::string_view text)
{
    text = textBeforeNul(text);
    m_content.append(text);
    noteBytes(text);
    m_markerLines.extend(m_content);
    if (m_onChange)
        m_onChange();
}

void EditBoxModel::noteBytes(std::string_view text)
{
    if (!m_hasLeadBytes)
        m_hasLeadBytes = std::any_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// The remembered texts hold no NUL: one that equals the bytes given, as they are, is also
// what they mean cut at their first NUL, so the cut is not even looked for.
bool EditBoxModel::isExpectedNext(std::string_view head, std::string_view tail) const
{
    if (m_nextExpected >= m_foundOrder.size())
        return false;
    std::string_view expected = m_foundOrder[m_nextExpected]->first;
    return expected.size() == head.size() + tail.size() && expected.starts_with(head) && expected.ends_with(tail);
}

int32_t EditBoxModel::find(std::string_view sought) const
{
    if (isExpectedNext(sought))
        return m_foundOrder[m_nextExpected++]->second.position;
    sought = textBeforeNul(sought);
    if (sought.empty())
        return m_content.empty() ? -1 : 1;
    if (sought.ends_with(kMarkerTail)) {
        if (std::optional<int32_t> marker = m_markerLines.findMarker(m_content, sought.substr(0, sought.size() - kMarkerTail.size())))
            return *marker;
    }
    if (auto known = m_found.find(sought); known != m_found.end()) {
        m_nextExpected = known->second.order + 1;
        return known->second.position;
    }
    int32_t position;
    if (m_hasLeadBytes) {
        position = findText(m_content, sought);
    } else {
        size_t at = m_content.find(sought);
        position = at == std::string::npos ? -1 : static_cast<int32_t>(at + 1);
    }
    if (position != -1) {
        if (m_found.size() >= kMaxRememberedFinds)
            forgetFinds();
        // Node addresses stay put while the index grows.
        m_foundOrder.push_back(&*m_found.emplace(sought, Found { position, m_foundOrder.size() }).first);
        m_nextExpected = m_foundOrder.size();
    }
    return position;
}

int32_t EditBoxModel::findJoined(std::string_view head, std::string_view tail) const
{
    if (tail == kMarkerTail) {
        if (std::optional<int32_t> marker = m_markerLines.findMarker(m_content, textBeforeNul(head)))
            return *marker;
    }
    if (isExpectedNext(head, tail))
        return m_foundOrder[m_nextExpected++]->second.position;
    m_joined.assign(textBeforeNul(head));
    m_joined.append(textBeforeNul(tail));
    return find(m_joined);
}

void EditBoxModel::forgetFinds() const
{
    m_found.clear();
    m_foundOrder.clear();
    m_nextExpected = 0;
}
