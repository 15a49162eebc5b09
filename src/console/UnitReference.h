// Unit references: how the service names a control of the console (window identifier, unit
// identifier, type code), and the references of the console's own units.
#pragma once

#include <cstdint>

struct UnitReference {
    uint32_t windowId;
    uint32_t unitId;
    uint32_t typeCode;
};

// Type codes of the kinds of unit.
constexpr uint32_t kTypeWindow = 0x00010001;
constexpr uint32_t kTypeMenuItem = 0x00010003;
constexpr uint32_t kTypeEditBox = 0x00010005;
constexpr uint32_t kTypeListBox = 0x0001000F;
constexpr uint32_t kTypeServer = 0x00010026;

// The console window and its units.
constexpr uint32_t kConsoleWindowId = 0x52010001;
constexpr uint32_t kConsoleWindowUnitId = 0x06010000;

constexpr UnitReference 编辑框2 { kConsoleWindowId, 0x16010057, kTypeEditBox };
constexpr UnitReference 编辑框1 { kConsoleWindowId, 0x1601004C, kTypeEditBox };
constexpr UnitReference 管理 { kConsoleWindowId, 0x2601001F, kTypeMenuItem };
constexpr UnitReference 踢出 { kConsoleWindowId, 0x26010020, kTypeMenuItem };
constexpr UnitReference 抖动 { kConsoleWindowId, 0x2601002C, kTypeMenuItem };
constexpr UnitReference 地震 { kConsoleWindowId, 0x260100BA, kTypeMenuItem };
constexpr UnitReference 奖励 { kConsoleWindowId, 0x26010064, kTypeMenuItem };
constexpr UnitReference 禁言 { kConsoleWindowId, 0x26010069, kTypeMenuItem };
constexpr UnitReference 恶搞 { kConsoleWindowId, 0x260100BF, kTypeMenuItem };
constexpr UnitReference 服务器1 { kConsoleWindowId, 0x16010003, kTypeServer };
constexpr UnitReference 列表框1 { kConsoleWindowId, 0x1601000B, kTypeListBox };
