// Control operations by unit reference (see ControlOperations.h).
#include "console/ControlOperations.h"

#include "console/ConsoleWindow.h"
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

ListBoxModel& listBoxOf(const UnitReference& unit)
{
    ListBoxModel* list = unit.typeCode == kTypeListBox ? windowOf(unit).listBox(unit.unitId) : nullptr;
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

int32_t itemCount(const UnitReference& listBox) { return listBoxOf(listBox).count(); }
std::string itemText(const UnitReference& listBox, int32_t index) { return listBoxOf(listBox).text(index); }
int32_t addItem(const UnitReference& listBox, std::string_view text, int32_t data) { return listBoxOf(listBox).add(text, data); }
bool deleteItem(const UnitReference& listBox, int32_t index) { return listBoxOf(listBox).remove(index); }
int32_t currentSelection(const UnitReference& listBox) { return listBoxOf(listBox).selection(); }
std::string itemDecoration(const UnitReference& listBox, int32_t index) { return std::string(listBoxOf(listBox).decoration(index)); }
bool setItemDecoration(const UnitReference& listBox, int32_t index, std::string_view decoration)
{
    return listBoxOf(listBox).setDecoration(index, decoration);
}

std::string content(const UnitReference& editBox) { return editBoxOf(editBox).content(); }

void setContent(const UnitReference& editBox, std::string_view text) { editBoxOf(editBox).setContent(text); }
void appendText(const UnitReference& editBox, std::string_view text) { editBoxOf(editBox).append(text); }

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

ListBoxModel& listBoxModel(const UnitReference& listBox) { return listBoxOf(listBox); }
EditBoxModel& editBoxModel(const UnitReference& editBox) { return editBoxOf(editBox); }

TcpServer& serverComponent(const UnitReference& server)
{
    TcpServer* component = server.typeCode == kTypeServer ? windowOf(server).server(server.unitId) : nullptr;
    if (!component)
        noSuchUnit();
    return *component;
}
