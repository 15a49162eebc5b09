// The list box control: entries in the order added, each a code page 936 text, single
// selection. It tells apart changes made by the user (a click on an entry, also on the one
// already selected, or a move with the keyboard), which it reports, from the program's
// additions and deletions, which it does not.
#pragma once

#include <QListWidget>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class RosterListBox final : public QListWidget {
    Q_OBJECT
public:
    explicit RosterListBox(QWidget* parent);

    int32_t itemCount() const { return static_cast<int32_t>(m_texts.size()); }
    std::string itemText(int32_t index) const;
    int32_t addItem(std::string_view text, int32_t data);
    bool deleteItem(int32_t index);
    int32_t currentSelection() const;

signals:
    void userSelectionChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The entries' own bytes; the widget shows them converted for display.
    std::vector<std::string> m_texts;
};
