// The console window's form tables (see ConsoleForm.h).
#include "console/ConsoleForm.h"

#include "console/EventRouting.h"
#include "console/HandlerTable.h"

namespace {

constexpr uint32_t kShownTabStop = kUnitShown | kUnitTabStop;

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

const EditBoxProperties kBannerBox { .border = EditBorder::None, .textColour = kBlack, .background = kButtonFace, .multiLine = true,
    .scrollBars = EditScrollBars::None, .alignment = EditAlignment::Centred, .inputMode = EditInputMode::ReadOnly };
const EditBoxProperties kMarkerBox { .border = EditBorder::Sunken, .textColour = kBlack, .background = kWhite, .multiLine = true,
    .scrollBars = EditScrollBars::None, .alignment = EditAlignment::Left, .inputMode = EditInputMode::Normal };

UnitDescription menuItem(uint32_t unitId, std::string_view caption, int level, bool hidden, int32_t onClick)
{
    UnitDescription unit { .unitId = unitId, .typeCode = kTypeMenuItem, .name = caption, .geometry = {}, .flags = 0, .bindings = {} };
    unit.menuItem = { .level = level, .hidden = hidden, .caption = caption };
    if (onClick != kNoHandler)
        unit.bindings.push_back({ kMenuItemClick, onClick });
    return unit;
}

WindowDescription makeConsole()
{
    WindowDescription console {
        .windowId = kConsoleWindowId,
        .caption = "聊天室服务器",
        .outerWidth = 225,
        .outerHeight = 240,
        .minimiseButton = true,
        .maximiseButton = false,
        .systemMenu = true,
        .centred = true,
        .escCloses = true,
        .windowCommandCaption = "显示加入地址…",
        .windowCommandEditBox = 编辑框2.unitId,
        .units = {},
    };
    auto& units = console.units;
    units.push_back({ .unitId = kConsoleWindowUnitId, .typeCode = kTypeWindow, .name = "", .geometry = { 50, 50, 225, 240 }, .flags = kUnitShown,
        .bindings = { { kWindowCreated, kOnWindowCreated }, { kWindowBeingDestroyed, kOnWindowDestroyed }, { kWindowCommandChosen, kOnInvite } } });
    units.push_back({ .unitId = 编辑框2.unitId, .typeCode = kTypeEditBox, .name = "编辑框2", .geometry = { 5, 5, 210, 25 }, .flags = kShownTabStop, .bindings = {}, .editBox = kBannerBox });
    units.push_back({ .unitId = 编辑框1.unitId, .typeCode = kTypeEditBox, .name = "编辑框1", .geometry = { 0, 0, 88, 16 }, .flags = kUnitTabStop, .bindings = {}, .editBox = kMarkerBox });
    units.push_back(menuItem(管理.unitId, "管理", 0, true, kNoHandler));
    units.push_back(menuItem(踢出.unitId, "踢出", 1, false, kOnKick));
    units.push_back(menuItem(抖动.unitId, "抖动", 1, false, kOnShake));
    units.push_back(menuItem(地震.unitId, "地震", 1, false, kOnQuake));
    units.push_back(menuItem(奖励.unitId, "奖励", 1, false, kOnReward));
    units.push_back(menuItem(禁言.unitId, "禁言", 1, false, kOnMute));
    units.push_back(menuItem(恶搞.unitId, "恶搞", 1, false, kOnPrank));
    units.push_back({ .unitId = 服务器1.unitId, .typeCode = kTypeServer, .name = "服务器1", .geometry = { 0, 0, 26, 26 }, .flags = 0,
        .bindings = { { kServerDataArrival, kOnDataArrival }, { kServerClientEntered, kOnClientEnter }, { kServerClientLeft, kOnClientLeave } } });
    units.push_back({ .unitId = 列表框1.unitId, .typeCode = kTypeListBox, .name = "列表框1", .geometry = { 5, 35, 210, 170 }, .flags = kShownTabStop,
        .bindings = { { kListSelectionChanged, kOnRosterSelect } } });
    return console;
}

} // namespace

const WindowDescription* findWindowDescription(uint32_t windowId)
{
    static const WindowDescription console = makeConsole();
    return windowId == console.windowId ? &console : nullptr;
}
