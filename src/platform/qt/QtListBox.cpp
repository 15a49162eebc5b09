// The list box control on Qt (see QtListBox.h).
#include "platform/qt/QtListBox.h"

#include "console/ConsoleForm.h"
#include "platform/qt/DisplayText.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Between the entry's text and its decoration, in pixels.
constexpr int kDecorationGap = 6;

// Draws an entry as the style does, then its decoration after the text: muted, cut short with
// an ellipsis where the row ends.
class DecoratedEntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QString decoration = index.data(kEntryDecorationRole).toString();
        if (decoration.isEmpty())
            return;
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QWidget* widget = item.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        // The style lays the text out inside this rectangle with this margin on either side.
        const QRect textArea = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int left = textArea.left() + margin + item.fontMetrics.horizontalAdvance(item.text) + kDecorationGap;
        const QRect nameArea(left, textArea.top(), textArea.right() - margin - left + 1, textArea.height());
        if (nameArea.width() <= 0)
            return;
        const bool selected = item.state & QStyle::State_Selected;
        painter->save();
        painter->setFont(item.font);
        const QColor text = item.palette.color(QPalette::Text);
        const QColor background = item.palette.color(QPalette::Base);
        const QColor muted(mutedChannel(text.red(), background.red()), mutedChannel(text.green(), background.green()),
            mutedChannel(text.blue(), background.blue()));
        painter->setPen(selected ? item.palette.color(QPalette::HighlightedText) : muted);
        painter->drawText(nameArea, Qt::AlignLeft | Qt::AlignVCenter, item.fontMetrics.elidedText(decoration, Qt::ElideRight, nameArea.width()));
        painter->restore();
    }
};

} // namespace

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
    case kEntryDecorationRole: return displayText(m_model->decoration(index.row()));
    // The whole decoration, also where the row cuts it short.
    case Qt::ToolTipRole: return m_model->decoration(index.row()).empty() ? QVariant() : displayText(m_model->decoration(index.row()));
    // A screen reader says both, as the row shows them.
    case Qt::AccessibleTextRole: {
        std::string_view decoration = m_model->decoration(index.row());
        QString text = displayText(m_model->text(index.row()));
        return decoration.empty() ? text : text + QLatin1Char(' ') + displayText(decoration);
    }
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

void ListBoxItems::decorationChanged(int32_t index)
{
    QModelIndex changed = this->index(index, 0);
    emit dataChanged(changed, changed, { kEntryDecorationRole, Qt::ToolTipRole, Qt::AccessibleTextRole });
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
    setItemDelegate(new DecoratedEntryDelegate(this));
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
