// The console window's rules (see ConsoleWindow.h).
#include "console/ConsoleWindow.h"

#include "console/EventRouting.h"
#include "net/TcpServer.h"
#include "runtime/EventBlock.h"
#include "runtime/ProgramFrame.h"

#include <vector>

// The server component's events keep their numbers in the form's bindings.
static_assert(kServerDataArrival == TcpServer::DataArrival && kServerClientEntered == TcpServer::ClientEntered
    && kServerClientLeft == TcpServer::ClientLeft);

namespace {

// The program's window table. Controls are addressed by unit reference (window and unit
// identifiers) from handlers that take no arguments and from the frame's teardown, so the
// table is found by identifier, one per process like the program frame.
std::map<uint32_t, std::unique_ptr<ConsoleWindow>>& loadedWindows()
{
    static std::map<uint32_t, std::unique_ptr<ConsoleWindow>> windows;
    return windows;
}

// Menu items carry command numbers from 20000 upwards over the window's menu items.
constexpr int kFirstMenuCommand = 20000;
// How often a close that had to wait for a running handler is tried again.
constexpr int kCloseRetryMs = 50;

} // namespace

ConsoleWindow* findLoadedWindow(uint32_t windowId)
{
    auto found = loadedWindows().find(windowId);
    return found == loadedWindows().end() ? nullptr : found->second.get();
}

void unloadAllWindows()
{
    auto windows = std::move(loadedWindows());
    loadedWindows().clear();
    for (size_t count = windows.size(); count > 0; --count)
        noteWindowDestroyed();
}

bool ConsoleWindow::load(uint32_t windowId, ReadinessWatcherFactory& watchers, const WindowViewFactory& views)
{
    const WindowDescription* description = findWindowDescription(windowId);
    if (!description || findLoadedWindow(windowId))
        return false;
    // No event reaches the service while the window and its units are being made.
    raiseEventBlock();
    std::unique_ptr<ConsoleWindow> window(new ConsoleWindow(*description, watchers, views));
    ConsoleWindow& loaded = *window;
    loadedWindows()[windowId] = std::move(window);
    noteWindowLoaded();
    loaded.m_view->show();
    lowerEventBlock();
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreated);
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreatedFollowUp1);
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreatedFollowUp2);
    return true;
}

ConsoleWindow::ConsoleWindow(const WindowDescription& description, ReadinessWatcherFactory& watchers, const WindowViewFactory& views)
    : m_description(description)
    , m_watchers(watchers)
    , m_view(views(description, *this))
{
    createUnits();
}

// The server components close their connections without events before the view goes.
ConsoleWindow::~ConsoleWindow()
{
    m_servers.clear();
}

void ConsoleWindow::createUnits()
{
    for (const UnitDescription& unit : m_description.units) {
        switch (unit.typeCode) {
        case kTypeEditBox: {
            EditBoxModel& model = m_editBoxes[unit.unitId];
            // A hidden box is only its text: it is never shown, so it needs no view.
            if (unit.flags & kUnitShown)
                m_view->addEditBox(unit, model);
            break;
        }
        case kTypeListBox:
            m_view->addListBox(unit, m_listBoxes[unit.unitId]);
            break;
        case kTypeServer:
            createServer(unit);
            break;
        default:
            break; // the window itself, and menu items, which exist only in the tables
        }
    }
}

void ConsoleWindow::createServer(const UnitDescription& unit)
{
    uint32_t window = windowId();
    uint32_t unitId = unit.unitId;
    auto raise = [window, unitId](TcpServer::Event event) { raiseEvent(window, unitId, event); };
    m_servers[unit.unitId] = std::make_unique<TcpServer>(m_watchers, raise);
}

const UnitDescription* ConsoleWindow::findUnit(uint32_t unitId) const
{
    for (const UnitDescription& unit : m_description.units) {
        if (unit.unitId == unitId)
            return &unit;
    }
    return nullptr;
}

EditBoxModel* ConsoleWindow::editBox(uint32_t unitId)
{
    auto found = m_editBoxes.find(unitId);
    return found == m_editBoxes.end() ? nullptr : &found->second;
}

ListBoxModel* ConsoleWindow::listBox(uint32_t unitId)
{
    auto found = m_listBoxes.find(unitId);
    return found == m_listBoxes.end() ? nullptr : &found->second;
}

TcpServer* ConsoleWindow::server(uint32_t unitId)
{
    auto found = m_servers.find(unitId);
    return found == m_servers.end() ? nullptr : found->second.get();
}

void ConsoleWindow::onUserSelection(uint32_t listUnitId) { raiseEvent(windowId(), listUnitId, kListSelectionChanged); }
void ConsoleWindow::onUserDoubleClick(uint32_t listUnitId) { raiseEvent(windowId(), listUnitId, kListDoubleClick); }
void ConsoleWindow::onWindowCommand() { raiseEvent(windowId(), kConsoleWindowUnitId, kWindowCommandChosen); }

void ConsoleWindow::popupMenu(uint32_t menuUnitId, std::optional<int> x, std::optional<int> y)
{
    // The items under a top-level item follow it in stored order, up to the next top-level item.
    std::vector<PopupItem> items;
    std::map<int, uint32_t> commands;
    int command = kFirstMenuCommand;
    bool under = false;
    for (const UnitDescription& unit : m_description.units) {
        if (unit.typeCode != kTypeMenuItem)
            continue;
        int thisCommand = command++;
        if (unit.menuItem.level == 0) {
            under = unit.unitId == menuUnitId;
            continue;
        }
        if (!under || unit.menuItem.hidden)
            continue;
        items.push_back({ unit.menuItem.caption, thisCommand });
        commands[thisCommand] = unit.unitId;
    }
    if (items.empty())
        return;
    std::optional<int> chosen = m_view->popupMenu(items, x, y);
    if (!chosen)
        return;
    // The click event runs after the pop-up has closed.
    auto item = commands.find(*chosen);
    if (item != commands.end())
        raiseEvent(windowId(), item->second, kMenuItemClick);
}

void ConsoleWindow::close(CloseTiming timing)
{
    if (m_destroying)
        return;
    // A close request can arrive inside a nested loop (a message box, the pop-up) while a
    // handler is still running on this window's units; destroying them under it would pull the
    // ground from under that handler. What holds the handler up is dismissed, as Esc would,
    // and the close goes ahead once the handler has returned.
    if (timing == CloseTiming::AfterRunningHandlers && eventNestingDepth() > 0) {
        m_view->dismissModal();
        m_view->callLater(kCloseRetryMs, [id = windowId()] {
            if (ConsoleWindow* window = findLoadedWindow(id))
                window->close();
        });
        return;
    }
    // The close queries: a bound handler could refuse; this console binds none, so every
    // close request goes ahead.
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowCloseQueryFirst);
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowCloseQuery);
    destroyWindow();
}

// Ends with the window released: callers return without touching it again.
void ConsoleWindow::destroyWindow()
{
    m_destroying = true;
    // Being destroyed: every unit, the server component and its connections still exist.
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowBeingDestroyed);
    // The server component closes its connections without events.
    m_servers.clear();
    m_view->hide();
    std::unique_ptr<ConsoleWindow> self = std::move(loadedWindows()[windowId()]);
    loadedWindows().erase(windowId());
    noteWindowDestroyed();
}
