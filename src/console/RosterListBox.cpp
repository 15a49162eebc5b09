// The list box control (see RosterListBox.h).
#include "console/RosterListBox.h"

#include "console/DisplayText.h"

#include <QKeyEvent>

RosterListBox::RosterListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    // A click on an entry, also on the one that is already selected, counts as the user's choice.
    connect(this, &QListWidget::clicked, this, [this] { emit userSelectionChanged(); });
}

std::string RosterListBox::itemText(int32_t index) const
{
    if (index < 0 || index >= itemCount())
        return {};
    return m_texts[static_cast<size_t>(index)];
}

int32_t RosterListBox::addItem(std::string_view text, int32_t data)
{
    auto* item = new QListWidgetItem(displayText(text));
    item->setData(Qt::UserRole, data);
    // One line per entry, one pixel taller than the font's line.
    item->setSizeHint(QSize(0, fontMetrics().height() + 1));
    QListWidget::addItem(item);
    m_texts.emplace_back(text);
    return itemCount() - 1;
}

bool RosterListBox::deleteItem(int32_t index)
{
    if (index < 0 || index >= itemCount())
        return false;
    bool wasSelected = currentSelection() == index;
    delete takeItem(index);
    m_texts.erase(m_texts.begin() + index);
    // Deleting the selected entry leaves nothing selected, as the user last saw it.
    if (wasSelected)
        clearSelection();
    return true;
}

int32_t RosterListBox::currentSelection() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void RosterListBox::keyPressEvent(QKeyEvent* event)
{
    int32_t before = currentSelection();
    QListWidget::keyPressEvent(event);
    if (currentSelection() != before && currentSelection() != -1)
        emit userSelectionChanged();
}
