// The console window's stored form, held as tables: each unit with its identifier, type code,
// stored geometry, flags, event bindings and properties, in the order of creation.
#pragma once

#include "console/UnitReference.h"

#include <cstdint>
#include <string_view>
#include <vector>

struct EventBinding {
    int32_t event;
    int32_t handler; // a HandlerReference; -1 for none
};

struct Geometry {
    int left, top, width, height;
};

// Flag word of a control: bit 0 shown, bit 1 disabled, bit 2 Tab stop.
constexpr uint32_t kUnitShown = 1u << 0;
constexpr uint32_t kUnitDisabled = 1u << 1;
constexpr uint32_t kUnitTabStop = 1u << 2;

// Properties of an edit box as its property block stores them; the enumerators carry the
// stored numbers.
enum class EditBorder : int { None = 0, Sunken = 1 };
enum class EditScrollBars : int { None = 0, Horizontal = 1, Vertical = 2, Both = 3 };
enum class EditAlignment : int { Left = 0, Centred = 1, Right = 2 };
enum class EditInputMode : int { Normal = 0, ReadOnly = 1, Password = 2 };

inline bool hasHorizontalScrollBar(EditScrollBars bars) { return bars == EditScrollBars::Horizontal || bars == EditScrollBars::Both; }
inline bool hasVerticalScrollBar(EditScrollBars bars) { return bars == EditScrollBars::Vertical || bars == EditScrollBars::Both; }

struct EditBoxProperties {
    EditBorder border;
    uint32_t textColour; // RGB
    uint32_t background; // RGB; kButtonFace for the system's button-face colour
    bool multiLine;
    EditScrollBars scrollBars;
    EditAlignment alignment;
    EditInputMode inputMode;
};

// Properties of a menu item.
struct MenuItemProperties {
    int level;           // 0 top level, 1 under it
    bool hidden;
    std::string_view caption;
};

// Stands for the system's button-face colour wherever a colour is stored (not an RGB value).
constexpr uint32_t kButtonFace = 0xFF000000;
// A list box entry is this much taller than a line of its font.
constexpr int kListEntryExtraHeight = 1;
// An entry's decoration is drawn muted: its text colour mixed with the row's background, this
// share of it the text colour (black on white gives #666666, 5.7:1, readable still). On a
// selected row it takes the selection's text colour unmixed.
constexpr int kDecorationInkPercent = 60;
constexpr int kWholePercent = 100;
// One 8-bit channel of that mix.
constexpr int mutedChannel(int text, int background)
{
    return (text * kDecorationInkPercent + background * (kWholePercent - kDecorationInkPercent)) / kWholePercent;
}

struct UnitDescription {
    uint32_t unitId;
    uint32_t typeCode;
    std::string_view name;
    Geometry geometry;
    uint32_t flags;
    std::vector<EventBinding> bindings;
    EditBoxProperties editBox {};
    MenuItemProperties menuItem {};
};

struct WindowDescription {
    uint32_t windowId;
    std::string_view caption;
    int outerWidth, outerHeight;
    bool minimiseButton, maximiseButton, systemMenu, centred, escCloses;
    // The window's one command of its own (the console's: show where browsers join), offered
    // as an item of the system menu and by a double click on one edit box; it raises the
    // window's kWindowCommandChosen event. Empty caption and 0 for none.
    std::string_view windowCommandCaption;
    uint32_t windowCommandEditBox = 0;
    std::vector<UnitDescription> units; // the window itself first, then its units
};

// The form description of a window, or nullptr when the program has no such window.
const WindowDescription* findWindowDescription(uint32_t windowId);
