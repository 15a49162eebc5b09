// The console window, built from its form tables: the banner box, the hidden marker store,
// the roster list, the administrator menu (shown only as a pop-up) and the server component.
// It raises the window's events: created after all units exist, the close queries, and
// being-destroyed while the server component and its connections still exist.
#pragma once

#include "console/ConsoleForm.h"
#include "console/EditBoxModel.h"
#include "console/QtReadinessWatchers.h"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string_view>

class QMenu;
class QTextEdit;
class RosterListBox;
class TcpServer;

class ConsoleWindow final : public QWidget {
    Q_OBJECT
public:
    // Creates the window with this id from its form, shows it and raises its created event.
    // False when the program has no such window.
    static bool load(uint32_t windowId);
    ~ConsoleWindow() override;

    uint32_t windowId() const { return m_description.windowId; }
    const UnitDescription* findUnit(uint32_t unitId) const;

    EditBoxModel* editBox(uint32_t unitId);
    void setEditBoxContent(uint32_t unitId, std::string_view text);
    void appendEditBoxText(uint32_t unitId, std::string_view text);
    RosterListBox* listBox(uint32_t unitId);
    TcpServer* server(uint32_t unitId);

    // Shows the items under a top-level menu item as a pop-up; the chosen item's click event
    // is raised after the pop-up has closed.
    void popupMenu(uint32_t menuUnitId, std::optional<int> x, std::optional<int> y);
    // The pop-up while it is open (tests choose from it), else nullptr.
    QMenu* openPopup() const { return m_openPopup; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct EditBoxUnit {
        EditBoxModel model;
        QTextEdit* widget = nullptr; // none for a box that is never shown
    };

    explicit ConsoleWindow(const WindowDescription& description);
    void createUnits();
    void createEditBox(const UnitDescription& unit);
    void createListBox(const UnitDescription& unit);
    void createServer(const UnitDescription& unit);
    void placeOnScreen();
    void refreshEditBoxWidget(EditBoxUnit& box);
    void destroyWindow();

    const WindowDescription& m_description;
    std::map<uint32_t, EditBoxUnit> m_editBoxes;
    std::map<uint32_t, RosterListBox*> m_listBoxes;
    QtReadinessWatcherFactory m_watchers;
    std::map<uint32_t, std::unique_ptr<TcpServer>> m_servers;
    QMenu* m_openPopup = nullptr;
    bool m_destroying = false;
};

// The windows that are loaded, by identifier.
ConsoleWindow* findLoadedWindow(uint32_t windowId);
