// Control operations by unit reference (see ControlOperations.h).
#include "console/ControlOperations.h"

#include "console/ConsoleWindow.h"
#include "console/RosterListBox.h"
#include "runtime/FatalError.h"

namespace {

[[noreturn]] void noSuchUnit()
{
    fatalError(0, "指定窗口或窗口组件不存在或尚未载入");
}

ConsoleWindow& windowOf(const UnitReference& unit)
{
    ConsoleWindow* window = findLoadedWindow(unit.windowId);
    if (!window)
        noSuchUnit();
    return *window;
}

RosterListBox& listBoxOf(const UnitReference& unit)
{
    RosterListBox* list = unit.typeCode == kTypeListBox ? windowOf(unit).listBox(unit.unitId) : nullptr;
    if (!list)
        noSuchUnit();
    return *list;
}

EditBoxModel& editBoxOf(const UnitReference& unit)
{
    EditBoxModel* box = unit.typeCode == kTypeEditBox ? windowOf(unit).editBox(unit.unitId) : nullptr;
    if (!box)
        noSuchUnit();
    return *box;
}

} // namespace

int32_t itemCount(const UnitReference& listBox) { return listBoxOf(listBox).itemCount(); }
std::string itemText(const UnitReference& listBox, int32_t index) { return listBoxOf(listBox).itemText(index); }
int32_t addItem(const UnitReference& listBox, std::string_view text, int32_t data) { return listBoxOf(listBox).addItem(text, data); }
bool deleteItem(const UnitReference& listBox, int32_t index) { return listBoxOf(listBox).deleteItem(index); }
int32_t currentSelection(const UnitReference& listBox) { return listBoxOf(listBox).currentSelection(); }

std::string content(const UnitReference& editBox) { return editBoxOf(editBox).content(); }

void setContent(const UnitReference& editBox, std::string_view text)
{
    editBoxOf(editBox);
    windowOf(editBox).setEditBoxContent(editBox.unitId, text);
}

void appendText(const UnitReference& editBox, std::string_view text)
{
    editBoxOf(editBox);
    windowOf(editBox).appendEditBoxText(editBox.unitId, text);
}

int32_t findInContent(const UnitReference& editBox, std::string_view sought) { return editBoxOf(editBox).find(sought); }

void popupMenu(uint32_t windowId, const UnitReference& menuItem, std::optional<int> x, std::optional<int> y)
{
    ConsoleWindow* window = findLoadedWindow(windowId);
    if (!window)
        noSuchUnit();
    const UnitDescription* unit = window->findUnit(menuItem.unitId);
    if (menuItem.windowId != windowId || !unit || unit->typeCode != kTypeMenuItem)
        return; // the item does not belong to this window: nothing to show
    window->popupMenu(menuItem.unitId, x, y);
}

TcpServer& serverComponent(const UnitReference& server)
{
    TcpServer* component = server.typeCode == kTypeServer ? windowOf(server).server(server.unitId) : nullptr;
    if (!component)
        noSuchUnit();
    return *component;
}
