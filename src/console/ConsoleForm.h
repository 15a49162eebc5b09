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

// Properties of an edit box as its property block stores them.
struct EditBoxProperties {
    int border;          // 0 none, 1 sunken
    uint32_t textColour; // RGB
    uint32_t background; // RGB; kButtonFace for the system's button-face colour
    bool multiLine;
    int scrollBars;      // 0 none, 1 horizontal, 2 vertical, 3 both
    int alignment;       // 0 left, 1 centred, 2 right
    int inputMode;       // 0 normal, 1 read-only, 2 password
};

// Properties of a menu item.
struct MenuItemProperties {
    int level;           // 0 top level, 1 under it
    bool hidden;
    std::string_view caption;
};

constexpr uint32_t kButtonFace = 0xFF000000;

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
    std::vector<UnitDescription> units; // the window itself first, then its units
};

// The form description of a window, or nullptr when the program has no such window.
const WindowDescription* findWindowDescription(uint32_t windowId);
