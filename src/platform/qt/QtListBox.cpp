// The list box control on Qt (see QtListBox.h).
#include "platform/qt/QtListBox.h"

#include "console/ConsoleForm.h"
#include "platform/qt/DisplayText.h"

#include <QKeyEvent>

ListBoxItems::ListBoxItems(ListBoxModel& model, int rowHeight, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(&model)
    , m_rowHeight(rowHeight)
{
    m_model->setObserver(this);
}

ListBoxItems::~ListBoxItems() { detach(); }

void ListBoxItems::detach()
{
    if (!m_model)
        return;
    beginResetModel();
    m_model->setObserver(nullptr);
    m_model = nullptr;
    endResetModel();
}

int ListBoxItems::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_model ? 0 : m_model->count();
}

QVariant ListBoxItems::data(const QModelIndex& index, int role) const
{
    if (!m_model || !index.isValid() || index.row() >= m_model->count())
        return {};
    switch (role) {
    case Qt::DisplayRole: return displayText(m_model->text(index.row()));
    case Qt::UserRole: return m_model->data(index.row());
    // One line per entry, one pixel taller than the font's line.
    case Qt::SizeHintRole: return QSize(0, m_rowHeight);
    default: return {};
    }
}

void ListBoxItems::beforeInsert(int32_t index)
{
    m_changing = true;
    beginInsertRows(QModelIndex(), index, index);
}

void ListBoxItems::afterInsert(int32_t)
{
    endInsertRows();
    m_changing = false;
}

void ListBoxItems::beforeRemove(int32_t index)
{
    m_changing = true;
    beginRemoveRows(QModelIndex(), index, index);
}

void ListBoxItems::afterRemove(int32_t)
{
    endRemoveRows();
    m_changing = false;
}

void ListBoxItems::selectionChanged(int32_t index)
{
    if (onProgramSelection)
        onProgramSelection(index);
}

QtListBox::QtListBox(ListBoxModel& model, QWidget* parent)
    : QListView(parent)
    , m_model(&model)
    , m_items(new ListBoxItems(model, fontMetrics().height() + kListEntryExtraHeight, this))
{
    setModel(m_items);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    m_items->onProgramSelection = [this](int32_t index) {
        if (index == kNoEntry)
            selectionModel()->clearSelection();
        else
            setCurrentRow(index);
    };
    // Whatever Qt selects is the model's selection; only clicks and keys are reported.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { followQtSelection(); });
    // A click on an entry, also on the one that is already selected, counts as the user's choice.
    connect(this, &QListView::clicked, this, [this] {
        followQtSelection();
        emit userSelectionChanged();
    });
}

void QtListBox::detach()
{
    m_items->detach();
    m_model = nullptr;
}

void QtListBox::followQtSelection()
{
    if (!m_model || m_items->changing())
        return;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    m_model->select(selected.isEmpty() ? kNoEntry : selected.first().row());
}

void QtListBox::setCurrentRow(int row)
{
    setCurrentIndex(m_items->index(row, 0));
}

void QtListBox::keyPressEvent(QKeyEvent* event)
{
    int32_t before = m_model ? m_model->selection() : kNoEntry;
    QListView::keyPressEvent(event);
    if (!m_model)
        return;
    followQtSelection();
    if (m_model->selection() != before && m_model->selection() != kNoEntry)
        emit userSelectionChanged();
}
