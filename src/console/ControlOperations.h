// The operations through which the service reads and changes the console's controls, each
// naming its control by unit reference. A reference that names no loaded unit of the right
// kind ends the program through the fatal error path.
#pragma once

#include "console/UnitReference.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class EditBoxModel;
class ListBoxModel;
class TcpServer;

// List box: entries indexed from 0; -1 stands for "none".
int32_t itemCount(const UnitReference& listBox);
std::string itemText(const UnitReference& listBox, int32_t index);
int32_t addItem(const UnitReference& listBox, std::string_view text, int32_t data = 0);
bool deleteItem(const UnitReference& listBox, int32_t index);
int32_t currentSelection(const UnitReference& listBox);
// The text a view draws beside the entry's own (ListBoxModel::setDecoration); the entry's text
// stays what it is.
std::string itemDecoration(const UnitReference& listBox, int32_t index);
bool setItemDecoration(const UnitReference& listBox, int32_t index, std::string_view decoration);

// Edit box: its whole content, replaced or extended at its end (no separator added).
std::string content(const UnitReference& editBox);
void setContent(const UnitReference& editBox, std::string_view text);
void appendText(const UnitReference& editBox, std::string_view text);
// The same result as findText(content(editBox), sought), without copying the content and
// answered from the box's index where possible.
int32_t findInContent(const UnitReference& editBox, std::string_view sought);

// Pops up the items under a top-level menu item 3 pixels right of and below the mouse
// pointer (or at x, y where given); returns when the pop-up has closed.
void popupMenu(uint32_t windowId, const UnitReference& menuItem, std::optional<int> x = std::nullopt, std::optional<int> y = std::nullopt);

// The server component behind a unit.
TcpServer& serverComponent(const UnitReference& server);

// The models behind a list box and an edit box, for a scan that works on every roster entry:
// looked up once per scan rather than once per entry. They stay valid while the window is
// loaded; their operations are those above (itemText is text(), findInContent is find()).
ListBoxModel& listBoxModel(const UnitReference& listBox);
EditBoxModel& editBoxModel(const UnitReference& editBox);
