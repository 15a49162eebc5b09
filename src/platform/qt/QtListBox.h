// The list box control on Qt: a QListView over the console's ListBoxModel, single selection.
// It tells apart changes made by the user (a click on an entry, also on the one already
// selected, or a move with the keyboard), which it reports, from the program's additions and
// deletions, which it only shows. An entry's decoration (a member's name) is drawn after its
// text in a muted colour; the item's display text stays the entry's own.
#pragma once

#include "console/ListBoxModel.h"

#include <QAbstractListModel>
#include <QListView>

#include <functional>

// The role under which an entry's decoration is read, empty when it has none.
inline constexpr int kEntryDecorationRole = Qt::UserRole + 1;

// The entries as Qt's item model, read straight from the ListBoxModel: no copy is kept.
class ListBoxItems final : public QAbstractListModel, public ListBoxObserver {
    Q_OBJECT
public:
    ListBoxItems(ListBoxModel& model, int rowHeight, QObject* parent);
    ~ListBoxItems() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void beforeInsert(int32_t index) override;
    void afterInsert(int32_t index) override;
    void beforeRemove(int32_t index) override;
    void afterRemove(int32_t index) override;
    void selectionChanged(int32_t index) override;
    void decorationChanged(int32_t index) override;

    bool changing() const { return m_changing; }
    // The model is going away before this view does: show nothing from now on.
    void detach();
    // Set by the view: the program changed the selection.
    std::function<void(int32_t)> onProgramSelection;

private:
    ListBoxModel* m_model;
    int m_rowHeight;
    bool m_changing = false;
};

class QtListBox final : public QListView {
    Q_OBJECT
public:
    QtListBox(ListBoxModel& model, QWidget* parent);

    // The view outlives its window by a turn of the event loop (it is deleted later); the
    // window's models do not.
    void detach();
    // Selects the row as the user would see it, without reporting it (tests, keyboard moves).
    void setCurrentRow(int row);

signals:
    void userSelectionChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void followQtSelection();

    ListBoxModel* m_model;
    ListBoxItems* m_items;
};
