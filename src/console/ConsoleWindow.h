// The console window, built from its form tables: the banner box, the hidden marker store,
// the roster list, the administrator menu (shown only as a pop-up) and the server component.
// It raises the window's events: created after all units exist, the close queries, and
// being-destroyed while the server component and its connections still exist. What the user
// sees is the backend's WindowView; everything here is the same on every platform.
#pragma once

#include "console/ConsoleForm.h"
#include "console/EditBoxModel.h"
#include "console/ListBoxModel.h"
#include "console/WindowView.h"
#include "runtime/ProgramFrame.h"

#include <map>
#include <memory>
#include <optional>

class ReadinessWatcherFactory;
class TcpServer;

class ConsoleWindow final : private WindowViewEvents {
public:
    // Creates the window with this id from its form, shows it and raises its created event.
    // False when the program has no such window or it is loaded already. Its server
    // components watch their sockets with `watchers`; its view is made by `views`.
    static bool load(uint32_t windowId, ReadinessWatcherFactory& watchers, const WindowViewFactory& views);
    ~ConsoleWindow();
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    uint32_t windowId() const { return m_description.windowId; }
    const UnitDescription* findUnit(uint32_t unitId) const;

    EditBoxModel* editBox(uint32_t unitId);
    ListBoxModel* listBox(uint32_t unitId);
    TcpServer* server(uint32_t unitId);
    WindowView& view() { return *m_view; }

    // Shows the items under a top-level menu item as a pop-up; the chosen item's click event
    // is raised after the pop-up has closed.
    void popupMenu(uint32_t menuUnitId, std::optional<int> x, std::optional<int> y);
    // Asks the window to close, exactly as its close button does. The window may be gone
    // when this returns. At once only for a caller that never returns into the handlers
    // below it on the stack.
    void close(CloseTiming timing = CloseTiming::AfterRunningHandlers);

private:
    ConsoleWindow(const WindowDescription& description, ReadinessWatcherFactory& watchers, const WindowViewFactory& views);
    void createUnits();
    void createServer(const UnitDescription& unit);
    void destroyWindow();

    void onUserSelection(uint32_t listUnitId) override;
    void onUserDoubleClick(uint32_t listUnitId) override;
    void onWindowCommand() override;
    void onCloseRequest() override { close(); }

    const WindowDescription& m_description;
    ReadinessWatcherFactory& m_watchers;
    std::map<uint32_t, EditBoxModel> m_editBoxes;
    std::map<uint32_t, ListBoxModel> m_listBoxes;
    std::map<uint32_t, std::unique_ptr<TcpServer>> m_servers;
    std::unique_ptr<WindowView> m_view;
    bool m_destroying = false;
};

// The windows that are loaded, by identifier.
ConsoleWindow* findLoadedWindow(uint32_t windowId);
// Releases every window still loaded, without events; the frame's teardown at program end.
void unloadAllWindows();
